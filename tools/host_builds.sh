#!/usr/bin/env bash
# Installs build/ into a temporary prefix and builds three hosts against it, as
# their developers would: find_package (a console download through a
# pseudo-terminal), pkg-config alone, and a Qt Widgets form from Designer.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
prefix=$work/prefix
fail() { echo "host builds: $*" >&2; exit 1; }
# eventually COMMAND...: true once COMMAND succeeds, trying for up to 10 s.
eventually() {
    for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
    return 1
}

cmake --install build --prefix "$prefix" >"$work/install.log"
# Then C and Python on the C API, from the same install.
# Everything the install wrote is under the prefix.
outside=$(grep -E '^-- (Installing|Up-to-date|Set runtime path)' "$work/install.log" |
          grep -v -E -- "(: |of \")$prefix/" || true)
[ -z "$outside" ] || fail "the install wrote outside $prefix: $outside"
libdir=$(dirname "$(find "$prefix" -name libvantor_core.so -print -quit)")
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(realpath "$(pkg-config --variable=prefix vantor-comm)")" = "$(realpath "$prefix")" ] ||
    fail "pkg-config names $(pkg-config --variable=prefix vantor-comm), not $prefix"

echo "== console host (find_package)"
cmake -S tests/package/console_host -B "$work/console" -G Ninja \
      -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/console" >/dev/null
out=$("$work/console/console_host" --no-app) || fail "no QCoreApplication went unnoticed"
grep -q "^error 5: .*QCoreApplication" <<<"$out" || fail "unclear error without an application: $out"
# The installed simulator; SEND is pressed (a line on its input) once the host is armed.
mkfifo "$work/send"
"$prefix/bin/vantor-comm" simulate --link "$work/meter" --records 40 <"$work/send" \
    >"$work/sim.log" 2>&1 &
sim_pid=$!
exec 3>"$work/send"
eventually test -e "$work/meter" || fail "the simulator made no device: $(cat "$work/sim.log")"
"$work/console/console_host" "$work/meter" "$work/d.dat" >"$work/host.log" 2>&1 &
host_pid=$!
eventually grep -q armed "$work/host.log" || true
echo >&3
wait "$host_pid" || fail "the console host failed: $(cat "$work/host.log")"
exec 3>&-
cat "$work/host.log"
[ "$(wc -l <"$work/d.dat")" -eq 40 ] || fail "expected 40 records in the data file"

echo "== pkg-config host"
# shellcheck disable=SC2046 # pkg-config's flags are meant to split
g++ tests/package/pkgconfig_host/main.cpp -o "$work/pkgconfig_host" \
    $(pkg-config --cflags --libs vantor-comm) -Wl,-rpath,"$libdir"
"$work/pkgconfig_host" "$work/d.dat"

echo "== Qt Widgets host (a Designer form)"
cmake -S tests/package/widgets_host -B "$work/widgets" -G Ninja \
      -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/widgets" >/dev/null
QT_QPA_PLATFORM=offscreen "$work/widgets/widgets_host"
echo "== C host (pkg-config vantor-comm-c), compiled as C"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Werror tests/c_api/c_api_test.c tests/c_api/meters_posix.c -o "$work/c_host" \
    $(pkg-config --cflags --libs vantor-comm-c) -Wl,-rpath,"$libdir"
"$work/c_host" "$prefix/bin/vantor-comm"

echo "== Python package from the install, both modes"
site=$(dirname "$(find "$prefix" -path '*-packages/vantor_comm' -type d -print -quit)")
for blocking in False True; do
    "$prefix/bin/vantor-comm" simulate --link "$work/py-meter" --send-after 0 >/dev/null 2>&1 &
    sim_pid=$!
    eventually test -e "$work/py-meter" || fail "the simulator made no device"
    PYTHONPATH=$site python3 - "$work/py-meter" "$work/py.dat" "$blocking" "$site" <<'EOF'
import sys, vantor_comm
records = vantor_comm.download(sys.argv[1], sys.argv[2], blocking=sys.argv[3] == "True")
assert len(records) == 20 and records[0].kind == "time", records
assert vantor_comm.__file__.startswith(sys.argv[4]), vantor_comm.__file__
print(f"blocking={sys.argv[3]}: {len(records)} records, from {vantor_comm.__file__}")
EOF
    wait "$sim_pid"
    sim_pid=""
done
echo "host builds: all passed"
