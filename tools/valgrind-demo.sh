#!/usr/bin/env bash
# Runs `vantor-comm demo` under valgrind memcheck; fails on any error or on
# memory definitely or indirectly lost.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || {
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq valgrind
}
[ -x build/vantor-comm ] || tools/setup.sh
log=build/valgrind-demo.log
valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --track-fds=no \
    --log-file="$log" build/vantor-comm demo >/dev/null
status=$?
grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable" "$log"
exit $status
