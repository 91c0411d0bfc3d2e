#!/usr/bin/env bash
# def_matches.sh LIBRARY DEF: the functions the shared library exports are
# those the .def lists, from which Windows builds their import libraries.
set -euo pipefail
diff <(nm -D --defined-only "$1" | awk '$2 == "T" && $3 ~ /^vantor_/ {print $3}' | sort) \
     <(awk '/^EXPORTS/ {on = 1; next} on && NF {print $1}' "$2" | sort)
