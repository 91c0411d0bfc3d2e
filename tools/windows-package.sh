#!/usr/bin/env bash
# windows-package.sh [BUILD64 BUILD32 OUT]: makes VantorComm-VERSION-setup.exe
# and VantorComm-VERSION-windows.zip in OUT (build-package/) from the 64-bit
# and 32-bit Windows builds (build-win64/, build-win32/; tools/windows.sh
# makes them), with Debian's makensis. Prints the two files' paths.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build64=$(realpath "${1:-$root/build-win64}")
build32=$(realpath "${2:-$root/build-win32}")
out=$(realpath -m "${3:-$root/build-package}")

. "$root/tools/debian-packages.sh"
command -v makensis >/dev/null || install_missing nsis

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build64/CMakeCache.txt")
version32=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build32/CMakeCache.txt")
if [ -z "$version" ] || [ "$version" != "$version32" ]; then
    echo "windows-package: $build64 and $build32 are not builds of the same version" >&2
    exit 1
fi

rm -rf "$out"
mkdir -p "$out"
# Stripped: the debugging information would make the package eight times larger.
cmake --install "$build64" --prefix "$out/install-win64" --strip >/dev/null
cmake --install "$build32" --prefix "$out/install-win32" --strip >/dev/null
python3 "$root/packaging/windows/stage.py" --x64 "$out/install-win64" --x86 "$out/install-win32" \
    --docs "$root/docs" --version "$version" --out "$out"
makensis -V2 -DVERSION="$version" -DSTAGE="$out" -DOUTFILE="$out/VantorComm-$version-setup.exe" \
    "$root/packaging/windows/vantor_comm.nsi"
echo "$out/VantorComm-$version-setup.exe"
echo "$out/VantorComm-$version-windows.zip"
