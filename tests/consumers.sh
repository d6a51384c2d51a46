#!/bin/sh
# consumers.sh PREFIX LIBDIR CC KIND WORK: builds, in WORK, another project's
# two programs against the library installed under PREFIX, linked KIND
# (shared or static) the way such a project asks for it: a CMake project with
# find_package (naming the static component, or nothing for shared), and one
# C file built by CC with pkg-config alone (--static and -static for static).
# Each must write and read back a BMP and need the shared library only when
# linked shared.
set -eu

if [ $# -ne 5 ]; then
    echo "usage: consumers.sh PREFIX LIBDIR CC KIND WORK"
    exit 1
fi
prefix=$1 libdir=$2 cc=$3 kind=$4 work=$5
consumer=$(dirname "$0")/consumer

# Runs a step quietly, showing its output only when it fails.
quiet() {
    "$@" >"$work.log" 2>&1 || { cat "$work.log"; return 1; }
}

# Runs PROGRAM, which writes a BMP to OUTPUT, and checks how it links the library.
check() {
    LD_LIBRARY_PATH="$prefix/$libdir" "$1" "$2"
    linked=static
    if readelf -d "$1" | grep -q 'NEEDED.*libqelega_bitmap\.so'; then linked=shared; fi
    if [ $linked != "$kind" ]; then
        echo "$1 links the library $linked, wanted $kind"
        return 1
    fi
}

component='' pc_static='' ld_static=''
if [ "$kind" = static ]; then component=static pc_static=--static ld_static=-static; fi
rm -rf "$work-cmake"
quiet cmake -S "$consumer" -B "$work-cmake" -G Ninja -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$prefix" -DQELEGA_BITMAP_KIND=$component
quiet cmake --build "$work-cmake"
check "$work-cmake/consumer" "$work-cmake.bmp"

# The prefix is given: a Debian package's .pc file names /usr, not where it was unpacked.
# shellcheck disable=SC2086
flags=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" \
    pkg-config --define-variable=prefix="$prefix" $pc_static --cflags --libs qelega_bitmap)
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$consumer/consumer.c" $ld_static $flags \
    -o "$work-pkg-config"
check "$work-pkg-config" "$work-pkg-config.bmp"
