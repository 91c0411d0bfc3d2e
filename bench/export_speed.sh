#!/usr/bin/env bash
# Exports a data file of a million records in each format and layout with
# `vantor-comm export` under /usr/bin/time and reports records a second and
# peak RSS. Goals: at least a million records a second, and memory flat
# (the same peak at 100 thousand and at a million records).
#
# usage: bench/export_speed.sh [BUILD_DIR]     (default: build next to bench/)
#   RECORDS="100000 1000000"  the data files' sizes
set -euo pipefail

. "$(dirname "$0")/build_tools.sh"
need_tools "${1:-}" vantor_make_capture
gen=$make_capture
sizes=${RECORDS:-"100000 1000000"}
scratch_dir vantor-export-speed

for records in $sizes; do
    "$gen" "$records" "$work/capture.raw"
    "$vc" decode "$work/capture.raw" --data-file "$work/d.dat" --overwrite 2>/dev/null || true
    for run in "csv long" "csv wide" "jsonl long" "tsv long"; do
        set -- $run
        /usr/bin/time -f '%e %M' -o "$work/time" \
            "$vc" export "$work/d.dat" --format "$1" --layout "$2" --utc -o "$work/out" 2>/dev/null
        read -r seconds rss <"$work/time"
        awk -v n="$records" -v s="$seconds" -v r="$rss" -v f="$1" -v l="$2" 'BEGIN {
            rate = (s > 0) ? n / s : 0
            verdict = "MISSED"
            if (rate >= 1000000) verdict = "met"
            printf "%8d records, %-5s %-4s: %5.2f s, %5.2f M records/s (goal >= 1: %s), peak RSS %d KiB\n", n, f, l, s, rate / 1000000, verdict, r
        }'
        rm -f "$work"/out*
    done
done
