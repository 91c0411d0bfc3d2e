#!/usr/bin/env bash
# A paced download of 600 frames from the simulated meter through a
# pseudo-terminal, in both modes (download, download --blocking).
#
#  1. `vantor-comm simulate --paced --send-after 1 --link LINK` in the
#     background, `vantor-comm download --device LINK` under /usr/bin/time:
#     the downloader's CPU time over its wall time (goal: under 1% of a core).
#  2. vantor_paced_probe plays the meter itself and stamps (CLOCK_MONOTONIC)
#     its last write and the downloader's exit (wait4, with the child's
#     rusage): last byte -> exit (goal: under 50 ms), CPU share again.
#
# usage: bench/paced_download.sh [BUILD_DIR]     (default: build next to bench/)
#   RECORDS=600  RUNS=3 (probe runs per mode)
set -euo pipefail

. "$(dirname "$0")/build_tools.sh"
need_tools "${1:-}" vantor_paced_probe
probe=$paced_probe
records=${RECORDS:-600}
runs=${RUNS:-3}

base=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
work=$(mktemp -d "$base/vantor-paced.XXXXXX")
simpid=
cleanup() {
    [[ -n $simpid ]] && kill "$simpid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failed=0
echo "== 1. simulate --paced in the background, download under /usr/bin/time ($records records)"
for mode in event blocking; do
    flags=()
    [[ $mode == blocking ]] && flags=(--blocking)
    link=$work/meter-$mode
    "$vc" simulate --records "$records" --paced --send-after 1 --link "$link" \
        >"$work/simulate-$mode.out" 2>"$work/simulate-$mode.err" &
    simpid=$!
    for _ in $(seq 200); do
        [[ -L $link ]] && break
        sleep 0.01
    done
    status=0
    /usr/bin/time -f '%e %U %S' -o "$work/time-$mode.txt" \
        "$vc" download --device "$link" --data-file "$work/data-$mode.dat" --timeout 60 \
        "${flags[@]}" 2>"$work/download-$mode.err" || status=$?
    # simulate waits until its line has been read; give it a moment, no more.
    for _ in $(seq 50); do
        kill -0 "$simpid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$simpid" 2>/dev/null; then
        echo "   (simulate was still waiting for its line to be read 5 s after the download; stopped)"
        kill "$simpid" 2>/dev/null || true
    fi
    wait "$simpid" 2>/dev/null || true
    simpid=
    lines=$(wc -l <"$work/data-$mode.dat" 2>/dev/null || echo 0)
    read -r elapsed user sys <"$work/time-$mode.txt"
    awk -v m="download${flags[*]:+ ${flags[*]}}" -v e="$elapsed" -v u="$user" -v s="$sys" \
        -v st="$status" -v n="$lines" 'BEGIN {
        share = (u + s) / e * 100
        printf "%-20s exit %d, %d records, wall %.2f s, CPU %.2f s (user %.2f, sys %.2f) = " \
               "%.2f%% of a core (goal < 1%%): %s\n", m, st, n, e, u + s, u, s, share,
               share < 1 ? "met" : "MISSED"
    }'
    if [[ $status -ne 0 || $lines -ne $records ]]; then
        failed=1
        cat "$work/download-$mode.err" >&2
    fi
done

echo "== 2. vantor_paced_probe: the meter's last byte -> the downloader's exit ($runs runs each)"
"$probe" "$vc" --records "$records" --runs "$runs" || failed=1
"$probe" "$vc" --records "$records" --runs "$runs" --blocking || failed=1
exit $failed
