#!/bin/sh
# Builds the "fuzz" preset (clang, libFuzzer, ASan, UBSan) and runs every fuzz
# target for SECONDS each (default 60). Fails on any crash, leak, timeout or
# sanitizer report, printing the end of that target's log. Corpora grow in
# build-fuzz/fuzz/corpus/ from run to run; crash files land in
# build-fuzz/fuzz/artifacts/. For a longer run: fuzz/run.sh 3600.
set -eu
seconds=${1:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
out=$top/build-fuzz/fuzz
cd "$top"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset fuzz && cmake --build --preset fuzz; } >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: build failed"
    exit 1
fi

status=0
mkdir -p "$out/corpus" "$out/artifacts" "$out/logs"
for manifest in "$out"/targets/*; do
    read -r name binary seeds <"$manifest"
    mkdir -p "$out/corpus/$name"
    target_log=$out/logs/$name.log
    # -close_fd_mask=1 silences the library's own messages on standard output.
    if "$binary" -max_total_time="$seconds" -timeout=10 -close_fd_mask=1 \
        -artifact_prefix="$out/artifacts/$name-" "$out/corpus/$name" "$seeds" \
        >"$target_log" 2>&1 &&
        ! grep -q -E 'ERROR: |runtime error: ' "$target_log"; then
        echo "$name: ok: $(grep -E '^#[0-9]+' "$target_log" | tail -n 1)"
    else
        tail -n 40 "$target_log"
        echo "$name: FAILED (log: $target_log)"
        status=1
    fi
done
exit $status
