#!/bin/sh
# sample.sh GEN SHAPES PACK OUTDIR PAGE: makes our own tile files with GEN,
# turns them into tile sheets with SHAPES (qelega_shapes), one sheet per
# effect, packs the plain sheets back with PACK (qelega_pack), and ends by
# saying where the sheets are and where the PAGE is.
set -eu

if [ $# -ne 5 ]; then
    echo "usage: sample.sh GEN SHAPES PACK OUTDIR PAGE"
    exit 1
fi
gen=$1
shapes=$2
pack=$3
out=$4
page=$5

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

# The way back: a sheet exported without water remaking packs into its tile
# file byte for byte.
echo "Round trip, export with --no-remake-water, pack, compare:"
for tiles in TILES.16 TILES.4; do
    case $tiles in
        TILES.4) option=--cga sheet=cga-no-remake-water.bmp ;;
        *) option= sheet=ega-no-remake-water.bmp ;;
    esac
    rm -f "$out/$tiles.packed"
    # shellcheck disable=SC2086
    "$pack" $option "$out/$sheet" "$out/$tiles.packed" </dev/null
    cmp "$out/$tiles" "$out/$tiles.packed"
    printf '  %-24s packs back into %s byte for byte\n' "$sheet" "$tiles"
done

echo
echo "The sheets are in $out/ (open $out/ega.bmp in any picture viewer)."
echo "The page is $page: open it in a browser, nothing to build."
