#!/usr/bin/env bash
# Runs the updater's main job on a built-in sample: a small update archive
# served by a local, deliberately slow web server, and the real updater.exe
# under Wine (in an Xvfb display when there is none) updating a demo folder
# and opening its target program. Prints what happened and leaves a
# screenshot of the dialog taken during the download.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"
cmake --preset windows >/dev/null
cmake --build --preset windows --target updater marker_target

out="$here/build/demo"
rm -rf "$out"
mkdir -p "$out"

# The sample update: a small tree with a read-only file and fixed times.
tree="$out/sample-update"
mkdir -p "$tree/docs" "$tree/data"
printf 'Version 1.0.0.2 of the product.\r\n' >"$tree/readme.txt"
printf 'How to use the product.\r\n' >"$tree/docs/guide.txt"
head -c 400000 /dev/urandom >"$tree/data/payload.bin"
touch -d '2024-03-01 12:00:00 UTC' "$tree/readme.txt" "$tree/docs/guide.txt" "$tree/data/payload.bin"
chmod a-w "$tree/docs/guide.txt"
archive="$out/update.zip"
(cd "$tree" && zip -q -r "$archive" readme.txt docs data)

# The installed product: the updater and, in a folder whose name has a
# space, the program to open afterwards (it leaves a marker when started).
app="$out/app"
mkdir -p "$app/Product Files"
cp "$here/build/windows/updater/updater.exe" "$app/"
cp "$here/build/windows/testing/marker_target.exe" "$app/Product Files/"
target="$app/Product Files/marker_target.exe"

# shellcheck source=scripts/wine-session.sh
. "$here/scripts/wine-session.sh"
server_pid=""
# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  wine_session_stop
}
trap cleanup EXIT
python3 "$here/scripts/demo_server.py" --file "$archive" --rate 100000 \
  --port-file "$out/port" --lifetime 120 2>"$out/server.log" &
server_pid=$!
for _ in $(seq 50); do [ -s "$out/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$out/port")/update.zip"

wine_session_start "$here/build/windows"
trap cleanup EXIT  # wine_session_start set its own
echo "updater.exe -url $url -dest \"$(winepath_of "$target")\""
# A Wine desktop of its own draws the dialog's title bar without a window
# manager.
"$WINE64" explorer /desktop=Updater,360x150 "$(winepath_of "$app/updater.exe")" \
  -url "$url" -dest "$(winepath_of "$target")" </dev/null >/dev/null 2>&1 &

# Screenshot while the download runs (400 kB at 100 kB/s).
sleep 2.5
shot="$out/updater-dialog.png"
desktop=$(xwininfo -root -tree 2>/dev/null | awk '/"Updater - Wine desktop"/ {print $1; exit}')
import -window "${desktop:-root}" "$shot" 2>/dev/null || import -window root "$shot"

status=0
for _ in $(seq 300); do [ -f "$target.started" ] && break; sleep 0.2; done
echo
echo "== server requests"
cat "$out/server.log"
echo "== files written below $app (size, mode, last write)"
(cd "$app" && find . -type f ! -name updater.exe ! -path './Product Files/*' | sort | while read -r f; do
  printf '  %-28s %8s bytes  %s  %s\n' "$f" "$(stat -c %s "$f")" "$(stat -c %A "$f")" \
    "$(date -u -r "$f" '+%F %T UTC')"
done)
if diff -r -x updater.exe -x 'Product Files' "$tree" "$app" >/dev/null; then
  echo "  same contents as the sample tree"
else
  echo "  DIFFERENT from the sample tree"; status=1
fi
echo "== target opened"
if [ -f "$target.started" ]; then
  echo "  yes: $(iconv -f UTF-16LE -t UTF-8 "$target.started")"
else
  echo "  NO"; status=1
fi
echo "== downloaded archive"
if ls "$app"/*.tarnwick.zip >/dev/null 2>&1; then
  echo "  still there: $(ls "$app"/*.tarnwick.zip)"; status=1
else
  echo "  gone"
fi
echo "== screenshot: $shot"
exit $status
