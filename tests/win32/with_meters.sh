#!/usr/bin/env bash
# with_meters.sh PREFIX SIMULATOR COUNT COMMAND...: starts COUNT simulated
# meters that press SEND at once (40 records each), makes them COM5, COM6,
# ... of the Wine prefix, runs COMMAND with those port names after its own
# arguments, and fails when a meter did not end well.
set -euo pipefail
prefix=$1 simulator=$2 count=$3
shift 3
links=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$links"
}
trap cleanup EXIT
mkdir -p "$prefix/dosdevices"
ports=()
for ((i = 0; i < count; i++)); do
    n=$((5 + i))
    "$simulator" simulate --send-after 0 --records 40 --link "$links/meter$n" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 500); do [ -e "$links/meter$n" ] && break; sleep 0.01; done
    ln -sfn "$links/meter$n" "$prefix/dosdevices/com$n"
    ports+=("COM$n")
done
status=0
"$@" "${ports[@]}" || status=$?
for p in "${pids[@]}"; do
    for _ in $(seq 600); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$p" 2>/dev/null; then
        echo "with_meters.sh: a meter's records were never read" >&2
        status=1
    else
        wait "$p" || status=1
    fi
done
pids=()
exit $status
