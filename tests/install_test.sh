#!/bin/sh
# install_test.sh SOURCE WORK CC CXX LIBDIR VERSION: builds the project shared
# and static, installs each to its own prefix under WORK and deletes the build
# tree, so the consumers that follow (consumers.sh) see the installed tree
# only.
set -eu

if [ $# -ne 6 ]; then
    echo "usage: install_test.sh SOURCE WORK CC CXX LIBDIR VERSION"
    exit 1
fi
source=$1 work=$2 cc=$3 cxx=$4 libdir=$5 version=$6

# The shared object exports the functions of bitmap.h and nothing else.
check_exports() {
    sed -n 's/^QELEGA_BITMAP_API [^(]*[ *]\([a-z_0-9]*\)(.*/\1/p' "$1/include/bitmap.h" | sort >"$2.wanted"
    nm -D --defined-only "$1/$libdir/libqelega_bitmap.so" | awk '{print $3}' | sort >"$2.exported"
    diff "$2.wanted" "$2.exported"
    readelf -d "$1/$libdir/libqelega_bitmap.so" | grep -q "SONAME.*libqelega_bitmap.so.${version%%.*}]"
}

# Runs a step quietly, showing its output only when it fails.
quiet() {
    "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log"; return 1; }
}

rm -rf "$work"
mkdir -p "$work"
for kind in shared static; do
    prefix=$work/$kind
    shared=OFF
    if [ $kind = shared ]; then shared=ON; fi
    quiet cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DBUILD_SHARED_LIBS=$shared \
        -DQELEGA_TESTS=OFF -DQELEGA_BENCH=OFF
    quiet cmake --build "$work/build" -j 2
    quiet cmake --install "$work/build" --prefix "$prefix"
    rm -rf "$work/build"

    for page in man1/qelega_shapes.1 man1/qelega_pack.1 man3/qelega_bitmap.3; do
        test -f "$prefix/share/man/$page"
    done
    test -f "$prefix/share/doc/qelega_shapes/LICENSE"
    for program in qelega_shapes qelega_pack; do
        test "$("$prefix/bin/$program" --version)" = "$program $version"
    done
    if [ $kind = shared ]; then check_exports "$prefix" "$work/$kind"; fi

    sh "$source/tests/consumers.sh" "$prefix" "$libdir" "$cc" $kind "$work/$kind"
    echo "$kind: installed, both consumers wrote and read back a BMP"
done
