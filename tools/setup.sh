#!/usr/bin/env bash
# Installs the Debian packages the project needs (when missing), then
# configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

. tools/debian-packages.sh
install_missing "${vantor_build_packages[@]}"
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
