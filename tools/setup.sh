#!/usr/bin/env bash
# Installs the Debian packages the project needs (when missing), then
# configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev
          libgtest-dev libgmock-dev libbenchmark-dev locales
          qt6-charts-dev libqt6opengl6-dev qt6-tools-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The tests write numbers under a locale with a decimal comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    { echo "de_DE.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null && $sudo locale-gen >/dev/null; } ||
        echo "note: could not generate de_DE.UTF-8; the locale test will use what is there"
fi

# CI builds with warnings as errors; a user's build only shows them.
werror=OFF
[ -n "${CI:-}${VANTOR_WERROR:-}" ] && werror=ON
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOR_WERROR=$werror >/dev/null
cmake --build build -j"$(nproc)"
