#!/usr/bin/env bash
# The README's links to files of the repository and the commands it shows
# (scripts, presets, unpack's commands and options, updater.exe's options)
# still exist.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cmake --build "$here/build/native" --target unpack >/dev/null
python3 "$here/scripts/checks/readme.py" "$here" "$here/build/native/tools/unpack/unpack"
