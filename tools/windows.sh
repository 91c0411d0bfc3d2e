#!/usr/bin/env bash
# Builds the library, the C API, the automation control and their tests for
# 64-bit and 32-bit Windows with Debian's mingw-w64 into build-win64/ and
# build-win32/, and runs the tests under Wine. The downloads they test come from the Linux program's
# simulated meter, so the Linux build (build/, tools/setup.sh) comes first.
# With both built, it makes the installer and the zip (tools/windows-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

. tools/debian-packages.sh
# The 32-bit Wine is Debian's i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding Debian's i386 architecture for the 32-bit Wine"
    $sudo dpkg --add-architecture i386
fi
install_missing "${vantor_windows_packages[@]}"
[ -x build/vantor-comm ] || tools/setup.sh

werror=OFF
[ -n "${CI:-}${VANTOR_WERROR:-}" ] && werror=ON
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(win64 win32)
# Both builds before the tests: the installer's test packages the two.
for a in "${archs[@]}"; do
    cmake -S . -B "build-$a" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/$a.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOR_WERROR=$werror \
        -DVANTOR_HOST_PROGRAM="$PWD/build/vantor-comm" >/dev/null
    cmake --build "build-$a" -j"$(nproc)"
done
for a in "${archs[@]}"; do
    ctest --test-dir "build-$a" --output-on-failure -j"$(nproc)"
done
# The installer and the zip, in build-package/.
if [ -d build-win64 ] && [ -d build-win32 ]; then
    tools/windows-package.sh
fi
