#!/usr/bin/env bash
# Runs the updater's main job on a built-in sample: for now, start-up with a
# good and a bad command line, each captured in a screenshot.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"
cmake --preset windows >/dev/null
cmake --build --preset windows --target updater
. "$here/scripts/wine-session.sh"
wine_session_start "$here/build/windows"
out="$here/build/demo"
mkdir -p "$out"
for args in "-url A -dest B" ""; do
  # shellcheck disable=SC2086
  "$WINE64" "$here/build/windows/updater/updater.exe" $args </dev/null >/dev/null 2>&1 &
  pid=$!
  sleep 3
  shot="$out/startup-$( [ -n "$args" ] && echo good || echo refused ).png"
  import -window root "$shot"
  echo "updater.exe $args -> $shot"
  kill "$pid" 2>/dev/null || true
  WINEPREFIX="$WINEPREFIX" wineserver -k </dev/null >/dev/null 2>&1 || true
  wait "$pid" 2>/dev/null || true
  wine_session_start "$here/build/windows"
done
wine_session_stop
