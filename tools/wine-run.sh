#!/usr/bin/env bash
# wine-run.sh PREFIX PROGRAM [ARG...]: runs a Windows program under Wine in a
# prefix of its own, made at first use. The program's output goes through
# files: Wine's background services inherit the descriptors they are started
# with and can hold a pipe open long after the program has ended.
# Wine's own programs named bare (cscript, regsvr32, reg) run as 64-bit
# ones; C:\windows\syswow64\NAME.exe names the 32-bit one.
set -u
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
mkdir -p "$(dirname "$prefix")"
{
    flock 9
    if [ ! -f "$prefix/.booted" ]; then
        wine wineboot -i </dev/null >/dev/null 2>&1 9>&- || { echo "wine-run: cannot make the Wine prefix $prefix" >&2; exit 125; }
        touch "$prefix/.booted"
    fi
    # The prefix's server, started here with nowhere to write: started by a
    # program it would keep that program's output (and dump into it).
    wineserver -p60 </dev/null >/dev/null 2>&1 9>&- || true
} 9>"$prefix.lock"
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
loader=wine
# Debian's wrapper starts a builtin named bare as a 32-bit program.
case "$1" in
    */* | *\\* | *.exe) ;;
    *) [ -x /usr/lib/wine/wine64 ] && loader=/usr/lib/wine/wine64 ;;
esac
"$loader" "$@" </dev/null >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
exit $status
