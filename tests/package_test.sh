#!/bin/sh
# package_test.sh SOURCE WORK MAKE_SAMPLE_TILES CC VERSION: makes the packages
# with the package preset's settings in WORK/build, then checks them as a
# user gets them: the .deb unpacked by dpkg-deb, its programs run on a tile
# file and its library linked both ways; the files of the .deb and the
# .tar.gz against the list below; the Debian fields; lintian. Exits 77
# (skipped) when a packaging tool is missing, unless QELEGA_REQUIRE_TOOLS=1.
set -eu

if [ $# -ne 5 ]; then
    echo "usage: package_test.sh SOURCE WORK MAKE_SAMPLE_TILES CC VERSION"
    exit 1
fi
source=$1 work=$2 make_tiles=$3 cc=$4 version=$5

# The programs the packages hold, each with its manual page.
programs="qelega_shapes qelega_pack qelega_patch"
# The Debian package's name, which names its documentation folder too.
name=qelega-shapes
# Warnings that stay for one package holding programs and a library: its
# name is not the library's (libqelega-bitmap1), it holds the library's
# development link, and it is not uploaded to Debian, so it closes no bug.
accepted=package-name-doesnt-match-sonames,link-to-shared-library-in-wrong-package
accepted=$accepted,initial-upload-closes-no-bugs

for tool in dpkg-deb dpkg-shlibdeps dpkg-architecture lintian pkg-config readelf; do
    if ! command -v $tool >/dev/null; then
        echo "$tool is missing"
        if [ "${QELEGA_REQUIRE_TOOLS:-}" = 1 ]; then exit 1; fi
        exit 77
    fi
done
libdir=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

fail() {
    echo "$*"
    exit 1
}

# Runs a step quietly, showing its output only when it fails.
quiet() {
    "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log"; return 1; }
}

# Every file and link an install tree holds under PREFIX, sorted.
expected_files() {
    {
        for program in $programs; do
            echo "$1/bin/$program"
            echo "$1/share/man/man1/$program.1.gz"
        done
        for file in libqelega_bitmap.a libqelega_bitmap.so libqelega_bitmap.so.${version%%.*} \
            libqelega_bitmap.so.$version pkgconfig/qelega_bitmap.pc \
            cmake/qelega_bitmap/qelega_bitmapConfig.cmake \
            cmake/qelega_bitmap/qelega_bitmapConfigVersion.cmake \
            cmake/qelega_bitmap/qelega_bitmap-static-targets.cmake \
            cmake/qelega_bitmap/qelega_bitmap-static-targets-release.cmake \
            cmake/qelega_bitmap/qelega_bitmap-shared-targets.cmake \
            cmake/qelega_bitmap/qelega_bitmap-shared-targets-release.cmake; do
            echo "$1/$libdir/$file"
        done
        echo "$1/include/bitmap.h"
        echo "$1/share/man/man3/qelega_bitmap.3.gz"
        echo "$1/share/doc/$name/README.md"
        echo "$1/share/doc/$name/LICENSE"
        echo "$1/share/qelega_shapes/index.html"
    } | sort
}

rm -rf "$work"
mkdir -p "$work"
quiet cmake -S "$source" --preset package -B "$work/build"
quiet cmake --build "$work/build" -j 2
(cd "$work/build" && quiet cpack)
deb=$(ls "$work"/build/*.deb)
tgz=$(ls "$work"/build/*.tar.gz)

# The contents: the .tar.gz holds the install tree in one folder, the .deb
# holds it under /usr with Debian's copyright and changelog beside the README.
{ expected_files usr; echo "usr/share/doc/$name/copyright"
  echo "usr/share/doc/$name/changelog.Debian.gz"; } | sort >"$work/deb.wanted"
dpkg-deb --contents "$deb" | awk '$6 !~ /\/$/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$work/deb.files"
diff "$work/deb.wanted" "$work/deb.files" || fail "the .deb's files differ: < wanted, > found"
top=$(basename "$tgz" .tar.gz)
expected_files "$top" >"$work/tgz.wanted"
tar -tzf "$tgz" | grep -v '/$' | sort >"$work/tgz.files"
diff "$work/tgz.wanted" "$work/tgz.files" || fail "the .tar.gz's files differ: < wanted, > found"

# The fields: the project's version, this machine's architecture, and the
# libraries the programs need (libpng for qelega_pack) found from the binaries.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = $name ] || fail "package $(field Package)"
case "$(field Version)" in "$version"-[0-9]*) ;; *) fail "version $(field Version)" ;; esac
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture $(field Architecture)"
field Depends | grep -q 'libpng16-16 (>= ' || fail "depends on $(field Depends)"

# The programs, run from the unpacked package: a tile file round trip.
root=$work/root
dpkg-deb --extract "$deb" "$root"
for program in $programs; do
    said=$("$root/usr/bin/$program" --version)
    [ "$said" = "$program $version" ] || fail "$program --version said '$said'"
done
"$make_tiles" "$work"
"$root/usr/bin/qelega_shapes" --no-remake-water "$work/TILES.16" "$work/sheet.bmp"
"$root/usr/bin/qelega_pack" "$work/sheet.bmp" "$work/copy.16"
cmp "$work/TILES.16" "$work/copy.16"

# The library, from the unpacked package, both ways; the .pc file names /usr,
# which pkg-config leaves out.
libs=$(PKG_CONFIG_PATH="$root/usr/$libdir/pkgconfig" pkg-config --libs qelega_bitmap)
[ "$(echo $libs)" = -lqelega_bitmap ] || fail "pkg-config --libs said '$libs'"
readelf -d "$root/usr/$libdir/libqelega_bitmap.so.$version" |
    grep -q "SONAME.*\[libqelega_bitmap\.so\.${version%%.*}\]" || fail "no SONAME libqelega_bitmap.so.${version%%.*}"
for kind in shared static; do
    sh "$source/tests/consumers.sh" "$root/usr" "$libdir" "$cc" $kind "$work/$kind"
done

lintian --fail-on error,warning --suppress-tags "$accepted" "$deb"
echo "packages made and checked: $(basename "$deb"), $(basename "$tgz")"
