#!/usr/bin/env bash
# Times a 100 MB download from a loopback server under Wine by the
# updater's HttpDownload and by URLDownloadToFileA, both with the progress
# reporter attached, several alternating runs each, and prints the medians,
# their ratio and the time spent inside the reporter.
#
# Usage: scripts/bench-download.sh [runs] [megabytes]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
[ -f build/windows/CMakeCache.txt ] || cmake --preset windows >/dev/null
cmake --build build/windows --target download_bench -j2 >/dev/null

# shellcheck source=wine-session.sh
. "$here/scripts/wine-session.sh"
wine_session_start "$here/build/windows"
"$WINE64" "$here/build/windows/updater/download/download_bench.exe" "${1:-7}" "${2:-100}"
wine_session_stop
