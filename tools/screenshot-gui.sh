#!/usr/bin/env bash
# Takes the picture of vantor-comm-gui for the docs: the program runs under a
# virtual X server, starts its simulated meter, downloads from it, shows the
# table and chart, and saves its window.
#
#   tools/screenshot-gui.sh [PNG]      (default docs/gui.png; build first)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/gui.png}
gui=build/vantor-comm-gui
if [ ! -x "$gui" ]; then
    echo "no $gui: build first (tools/setup.sh)" >&2
    exit 1
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
command -v xvfb-run >/dev/null || missing+=(xvfb)
# The panel is designed in Arial and Times New Roman; Liberation has their metrics.
fc-list 2>/dev/null | grep -qi "Liberation Serif" || missing+=(fonts-liberation2)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    { $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; } ||
        echo "note: could not install ${missing[*]}" >&2
fi
command -v xvfb-run >/dev/null || { echo "xvfb-run is needed" >&2; exit 1; }

mkdir -p "$(dirname "$out")"
# The simulated meter's unit file and data file go to a temporary folder of
# the program's; run it from one too, so nothing lands in the tree.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
abs_out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
abs_gui=$(pwd)/$gui
(cd "$work" && xvfb-run -a -s "-screen 0 1280x800x24" "$abs_gui" --demo-screenshot "$abs_out")
echo "wrote $out ($(stat -c %s "$out") bytes)"
