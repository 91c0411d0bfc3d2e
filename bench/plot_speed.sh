#!/usr/bin/env bash
# Draws a data file of 1 and 10 million records with `vantor-comm plot` under
# /usr/bin/time and reports the time and peak RSS. Goals: a million records
# in about a second, and memory flat (the same peak at 1 and at 10 million:
# the charts hold a summary per pixel column, not the readings).
#
# usage: bench/plot_speed.sh [BUILD_DIR]     (default: build next to bench/)
#   RECORDS="1000000 10000000"  the data files' sizes
#   FORMATS="png svg"           the pictures drawn of each
set -euo pipefail

. "$(dirname "$0")/build_tools.sh"
need_tools "${1:-}" vantor_make_capture
sizes=${RECORDS:-"1000000 10000000"}
formats=${FORMATS:-"png svg"}
scratch_dir vantor-plot-speed

for records in $sizes; do
    "$make_capture" "$records" "$work/capture.raw"
    "$vc" decode "$work/capture.raw" --data-file "$work/d.dat" --overwrite 2>/dev/null || true
    rm -f "$work/capture.raw"
    for format in $formats; do
        /usr/bin/time -f '%e %U %M' -o "$work/time" \
            "$vc" plot "$work/d.dat" --utc -o "$work/chart.$format" 2>/dev/null
        read -r seconds user rss <"$work/time"
        awk -v n="$records" -v s="$seconds" -v u="$user" -v r="$rss" -v f="$format" 'BEGIN {
            per = (n > 0) ? s / (n / 1000000) : 0
            verdict = (per <= 1.5) ? "met" : "MISSED"
            printf "%9d records, %s: %6.2f s (%.2f s CPU, %.2f s per million: goal about 1: %s), peak RSS %d KiB\n", n, f, s, u, per, verdict, r
        }'
        rm -f "$work"/chart.*
    done
    rm -f "$work/d.dat"
done
