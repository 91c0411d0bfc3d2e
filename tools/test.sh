#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"
# The package as hosts use it: installed into a temporary prefix.
tools/host_builds.sh
# The library and the C API for Windows, their tests under Wine.
tools/windows.sh
