#!/bin/sh
# sample.sh GEN SHAPES OUTDIR: makes our own tile files with GEN and turns
# them into tile sheets with SHAPES (qelega_shapes), one sheet per effect.
set -eu

if [ $# -ne 3 ]; then
    echo "usage: sample.sh GEN SHAPES OUTDIR"
    exit 1
fi
gen=$1
shapes=$2
out=$3

# Sheet name, the options that make it, and what it shows; one sheet a line.
sheets='
ega.bmp||water tiles remade from tile 3 through the mask tiles
ega-no-remake-water.bmp|--no-remake-water|water tiles as stored: plain grass and sand
ega-dungeon.bmp|--dungeon|grass tiles turn from green to red
ega-dungeon-mirror.bmp|--dungeon --mirror-room|mirror-room colours; grass ends green again
cga.bmp|--cga|the CGA tiles, water tiles remade
cga-no-remake-water.bmp|--cga --no-remake-water|CGA water tiles as stored
cga-dungeon.bmp|--cga --dungeon|grass tiles turn from cyan to magenta
cga-dungeon-mirror.bmp|--cga --dungeon --mirror-room|cyan and magenta swap; grass ends cyan again
'

mkdir -p "$out"
# The tool asks before it replaces a file, so clear the old sheets first.
echo "$sheets" | while IFS='|' read -r name options what; do
    if [ -n "$name" ]; then rm -f "$out/$name"; fi
done
"$gen" "$out"

echo "Tile sheets from our own tile files (TILES.16, TILES.4) in $out:"
echo "$sheets" | while IFS='|' read -r name options what; do
    [ -n "$name" ] || continue
    case $options in
        *--cga*) tiles=TILES.4 ;;
        *) tiles=TILES.16 ;;
    esac
    # Options are single words, so the unquoted list splits as meant.
    # shellcheck disable=SC2086
    "$shapes" $options "$out/$tiles" "$out/$name" </dev/null
    printf '  %-24s %s (%s)\n' "$name" "$what" "${options:-default options}"
done
