#!/usr/bin/env bash
# Runs the updater's main job on a built-in sample, following the steps of
# the vendor's guide (docs/vendor-guide.md): updater.exe in the product's folder, the
# update archive made from the new version's folder, signed and checked,
# served by a local, deliberately slow web server behind a redirect, and the
# real updater.exe started under Wine (in an Xvfb display when there is
# none) the way a product starts it, its exit code read at the end. Prints
# what happened and leaves a screenshot of the dialog taken during the
# download. Ends with a small update: a delta of the next version, made
# with unpack delta, installed silently.
#
# The demo's publisher key is the one the build makes for the tests:
# updater_signed.exe is updater.exe with that key built in (a vendor builds
# updater.exe with -DUPDATER_PUBLIC_KEY=publisher.pub.pem instead).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"
cmake --preset windows >/dev/null
cmake --build --preset windows --target updater_signed unpack marker_target

out="$here/build/demo"
rm -rf "$out"
mkdir -p "$out"
unpack="$here/build/windows/tools/unpack/unpack.exe"

# Step 1: the installed product, with updater.exe in its folder, and in a
# folder whose name has a space the program to open afterwards (it leaves a
# marker when started).
app="$out/app"
mkdir -p "$app/Product Files"
cp "$here/build/windows/updater/updater_signed.exe" "$app/updater.exe"
cp "$here/build/windows/testing/marker_target.exe" "$app/Product Files/"
target="$app/Product Files/marker_target.exe"

# Step 2: the new version's files, laid out as in the product's folder,
# with a read-only file and fixed times; the archive is made from inside
# that folder, so its names are relative to it.
tree="$out/sample-update"
mkdir -p "$tree/docs" "$tree/data"
printf 'Version 1.0.0.2 of the product.\r\n' >"$tree/readme.txt"
printf 'How to use the product.\r\n' >"$tree/docs/guide.txt"
head -c 400000 /dev/urandom >"$tree/data/payload.bin"
touch -d '2024-03-01 12:00:00 UTC' "$tree/readme.txt" "$tree/docs/guide.txt" "$tree/data/payload.bin"
chmod a-w "$tree/docs/guide.txt"
archive="$out/update.zip"
(cd "$tree" && zip -q -r "$archive" .)

# shellcheck source=scripts/wine-session.sh
. "$here/scripts/wine-session.sh"
server_pid=""
updater_pid=""
# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
  if [ -n "$updater_pid" ]; then kill "$updater_pid" 2>/dev/null || true; fi
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  wine_session_stop
}
trap cleanup EXIT
wine_session_start "$here/build/windows"
trap cleanup EXIT  # wine_session_start set its own

# Step 3: sign the archive with the publisher's key, check the signature
# and look at what the updater will write.
keys="$here/build/windows/test_keys"
openssl dgst -sha256 -sign "$keys/publisher.pem" -out "$archive.sig" "$archive"
echo "== unpack verify --key publisher.pub.pem update.zip"
"$WINE64" "$unpack" verify --key "$(winepath_of "$keys/publisher.pub.pem")" \
  "$(winepath_of "$archive")" </dev/null | tr -d '\r'
echo "== unpack list update.zip"
"$WINE64" "$unpack" list "$(winepath_of "$archive")" </dev/null | tr -d '\r'

# Step 4: both files on a web server, reached through a redirect.
python3 "$here/scripts/demo_server.py" --file "$archive" --file "$archive.sig" \
  --redirect /latest/update.zip=/update.zip --redirect /latest/update.zip.sig=/update.zip.sig \
  --rate 100000 --port-file "$out/port" --lifetime 120 2>"$out/server.log" &
server_pid=$!
for _ in $(seq 100); do [ -s "$out/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$out/port")/latest/update.zip"

# Step 5: the product starts the updater, waits for it and reads its exit
# code.
options=(-url "$url" -sig "$url.sig" -dest "$(winepath_of "$target")")
rm -f "$out/update.log"
options+=(-log "$(winepath_of "$out/update.log")")
echo
echo "updater.exe ${options[*]}"
"$WINE64" "$app/updater.exe" "${options[@]}" </dev/null >/dev/null 2>&1 &
updater_pid=$!

# Screenshot of the dialog while the download runs (400 kB at 100 kB/s).
shot="$out/updater-dialog.png"
dialog=""
for _ in $(seq 150); do
  dialog=$(xwininfo -root -tree 2>/dev/null | awk '/"\\346\\255\\243\\345\\234\\250|"正在更新/ {print $1; exit}')
  [ -n "$dialog" ] && break
  sleep 0.1
done
sleep 1  # let the bar move before the picture
import -window "${dialog:-root}" "$shot" 2>/dev/null || import -window root "$shot"

# How a run ended: its exit code, its log and the server's requests.
status=0
report_run() {  # CODE LOG SERVER_LOG
  echo "== updater exit code: $1"
  [ "$1" -eq 0 ] || status=1
  echo "== the updater's log"
  cat "$2" 2>/dev/null || { echo "  NO log"; status=1; }
  echo "== server requests"
  cat "$3"
}
code=0
wait "$updater_pid" || code=$?
updater_pid=""
echo
report_run "$code" "$out/update.log" "$out/server.log"
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
for _ in $(seq 100); do [ -f "$target.started" ] && break; sleep 0.2; done
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

# Step 6: a small update. The next version changes a few bytes of the
# payload and the readme; unpack delta sends only those changes (a patch of
# the payload against the installed copy), with unpack make's full archive
# beside it for an installation the delta does not fit (-full).
next="$out/sample-next"
cp -a "$tree" "$next"
printf 'Version 1.0.0.3 of the product.\r\n' >"$next/readme.txt"
printf 'changed in 1.0.0.3' | dd of="$next/data/payload.bin" bs=1 seek=200000 conv=notrunc status=none
delta="$out/delta.zip" full="$out/full.zip"
echo
echo "== unpack delta sample-update sample-next delta.zip --from 1.0.0.2 --to 1.0.0.3"
"$WINE64" "$unpack" delta "$(winepath_of "$tree")" "$(winepath_of "$next")" "$(winepath_of "$delta")" \
  --from 1.0.0.2 --to 1.0.0.3 </dev/null | tr -d '\r'
"$WINE64" "$unpack" make "$(winepath_of "$next")" "$(winepath_of "$full")" --version 1.0.0.3 \
  </dev/null | tr -d '\r'
for file in "$delta" "$full"; do
  openssl dgst -sha256 -sign "$keys/publisher.pem" -out "$file.sig" "$file"
done
kill "$server_pid" 2>/dev/null || true
python3 "$here/scripts/demo_server.py" --file "$delta" --file "$delta.sig" --file "$full" \
  --file "$full.sig" --rate 10000000 --port-file "$out/port2" --lifetime 120 2>"$out/server2.log" &
server_pid=$!
for _ in $(seq 100); do [ -s "$out/port2" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$out/port2")"
options=(-url "$base/delta.zip" -full "$base/full.zip" -dest "$(winepath_of "$target")" -silent
  -log "$(winepath_of "$out/delta.log")")
echo "updater.exe ${options[*]}"
code=0
"$WINE64" "$app/updater.exe" "${options[@]}" </dev/null >/dev/null 2>&1 || code=$?
report_run "$code" "$out/delta.log" "$out/server2.log"
echo "== bytes sent: delta $(stat -c %s "$delta"), full archive $(stat -c %s "$full")"
if diff -r -x updater.exe -x 'Product Files' -x '~update.version' "$next" "$app" >/dev/null; then
  echo "  the product is version $(cat "$app/~update.version")"
else
  echo "  DIFFERENT from the next version's tree"; status=1
fi

echo "== screenshot: $shot"
exit $status
