#!/usr/bin/env bash
# Replays captures of 100 thousand and one million frames with
# `vantor-comm decode` under /usr/bin/time -v and reports wall time and peak
# RSS of each. Goal: the peak does not grow with the capture's size.
#
# usage: bench/decode_memory.sh [BUILD_DIR]     (default: build next to bench/)
#   BLOCKING=1  replays with decode --blocking instead
#   SIZES="100000 1000000"  the capture sizes, in frames
set -euo pipefail

. "$(dirname "$0")/build_tools.sh"
need_tools "${1:-}" vantor_make_capture
gen=$make_capture
sizes=${SIZES:-"100000 1000000"}
mode=()
[[ ${BLOCKING:-0} == 1 ]] && mode=(--blocking)

scratch_dir vantor-decode-memory

declare -A rss wall
for frames in $sizes; do
    capture=$work/capture-$frames.raw
    out=$work/data-$frames.dat
    "$gen" "$frames" "$capture"
    status=0
    /usr/bin/time -v -o "$work/time-$frames.txt" \
        "$vc" decode "$capture" --data-file "$out" "${mode[@]}" 2>"$work/decode-$frames.err" ||
        status=$?
    rss[$frames]=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time-$frames.txt")
    wall[$frames]=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time-$frames.txt")
    lines=$(wc -l <"$out")
    printf '%8d frames: capture %9d bytes, exit %d, %8d records, wall %s, peak RSS %d KiB\n' \
        "$frames" "$(stat -c %s "$capture")" "$status" "$lines" "${wall[$frames]}" "${rss[$frames]}"
    if [[ $status -ne 0 || $lines -ne $frames ]]; then
        echo "decode failed:" >&2
        cat "$work/decode-$frames.err" >&2
        exit 1
    fi
done

set -- $sizes
small=$1
large=${!#}
if [[ $small != "$large" ]]; then
    awk -v s="${rss[$small]}" -v l="${rss[$large]}" -v a="$small" -v b="$large" 'BEGIN {
        growth = (l - s) / s * 100
        verdict = (growth <= 10) ? "met" : "MISSED"
        printf "peak RSS %d KiB at %d frames, %d KiB at %d frames: %+.1f%% (goal: no growth, " \
               "within 10%% noise): %s\n", s, a, l, b, growth, verdict
    }'
fi
