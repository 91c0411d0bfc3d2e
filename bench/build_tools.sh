# Sourced by the bench scripts after `set -euo pipefail`:
#   need_tools BUILD_DIR NAME...  sets $root and $build, and $vc to the
#   program; each NAME is a program under $build/bench (set as a variable of
#   that name without its vantor_ prefix: vantor_make_capture -> $make_capture).
#   Stops with how to build them when one is missing.
#   scratch_dir NAME  sets $work to a fresh folder on tmpfs where there is
#   one, removed at exit.
need_tools() {
    root=$(cd "$(dirname "${BASH_SOURCE[1]}")/.." && pwd)
    build=$(cd "${1:-$root/build}" && pwd)
    shift
    vc=$build/vantor-comm
    local tool name
    for tool in "$vc" /usr/bin/time "$@"; do
        [[ $tool == /* ]] || tool=$build/bench/$tool
        [[ -x $tool ]] || {
            echo "missing $tool (build first, with the benchmarks:" \
                "cmake -S $root -B $build -DVANTOR_BUILD_BENCH=ON && cmake --build $build)" >&2
            exit 2
        }
    done
    for name in "$@"; do
        printf -v "${name#vantor_}" '%s' "$build/bench/$name"
    done
}

scratch_dir() {
    local base=/tmp
    [[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
    work=$(mktemp -d "$base/$1.XXXXXX")
    trap 'rm -rf "$work"' EXIT
}
