#!/usr/bin/env bash
# Whole runs of qelega_shapes (start, read 64 KiB, draw, write the sheet,
# exit) against a process that only copies the same 64 KiB tile file: the
# median wall time of each over many runs, and their ratio. Process start-up
# dominates both, so the ratio shows what the conversion itself adds.
#
# usage: bench/run_tool.sh [QELEGA_SHAPES] [RUNS]
#   QELEGA_SHAPES  the built tool (default: build/src/qelega_shapes/qelega_shapes)
#   RUNS           runs of each command (default: 500)
set -euo pipefail

tool=$(realpath "${1:-build/src/qelega_shapes/qelega_shapes}")
runs=${2:-500}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Any 65536 bytes make a sheet; a fixed pattern keeps runs comparable.
head -c 65536 <(seq 1 20000) >"$work/tiles.16"
[ "$(wc -c <"$work/tiles.16")" -eq 65536 ]
convert_cmd="$tool $work/tiles.16 $work/out.bmp"
copy_cmd="cp $work/tiles.16 $work/copy.16"
# Both write a new file each run, so the tool is never asked to overwrite.
clean_cmd="rm -f $work/out.bmp $work/copy.16"

if command -v hyperfine >/dev/null; then
    hyperfine --shell=none --warmup 20 --runs "$runs" --prepare "$clean_cmd" \
        --export-json "$work/times.json" "$convert_cmd" "$copy_cmd" >&2
    read -r convert copy < <(python3 -c '
import json, sys
results = json.load(open(sys.argv[1]))["results"]
print(*(r["median"] * 1e6 for r in results))' "$work/times.json")
else
    # Plain loop, median of the runs; the two clock reads per run are
    # processes too, so this ratio sits nearer 1 than hyperfine's.
    median_us() {
        local i start end
        for ((i = 0; i < runs; i++)); do
            $clean_cmd
            start=$(date +%s%N)
            $1
            end=$(date +%s%N)
            echo $(((end - start) / 1000))
        done | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
    }
    convert=$(median_us "$convert_cmd")
    copy=$(median_us "$copy_cmd")
fi

# A run that failed would time nothing worth knowing.
$clean_cmd
$convert_cmd
[ "$(wc -c <"$work/out.bmp")" -eq 65654 ] || { echo "the tool wrote no sheet" >&2; exit 1; }
awk -v a="$convert" -v b="$copy" 'BEGIN {
    printf "qelega_shapes run: %8.1f us (median of '"$runs"')\n", a
    printf "64 KiB copy (cp):  %8.1f us (median of '"$runs"')\n", b
    printf "ratio:             %8.2f\n", a / b
}'
