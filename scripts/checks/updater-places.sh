#!/usr/bin/env bash
# The real updater.exe (x64, under Wine) where a Windows test program cannot
# start it: started by the Wine loader from a Unix shell, as a folder whose
# path is longer than MAX_PATH needs, or without a display.
#
# - A folder too long for the updater's own files (its longest, an archive's
#   signature, needs 29 characters after the folder) is refused with exit 1
#   before anything is touched: no download, and no archive of an earlier
#   run swept, in the folder or (through a path cut short) in its parent. A
#   folder that just fits is updated.
# - Without a display no window can be made: exit 4, nothing downloaded or
#   changed, and the log says why.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$here/build/windows
cmake --build "$build" --target updater marker_target >/dev/null
updater=$build/updater/updater.exe
marker=$build/testing/marker_target.exe

work=$(mktemp -d "${TMPDIR:-/tmp}/updater-places.XXXXXX")
server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=scripts/wine-session.sh
. "$here/scripts/wine-session.sh"
wine_session_start "$build" >/dev/null
trap 'wine_session_stop; cleanup' EXIT
fail=0
check() { if ! "$@"; then echo "FAIL: $*"; fail=1; fi; }

# Windows form of a path below /: Wine's Z: drive.
win() { printf 'Z:%s' "${1//\//\\}"; }

mkdir "$work/www" "$work/target"
cp "$marker" "$work/target/"
python3 - "$work/www/update.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("note.txt", "updated\n")
PY
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$work/www" "$port" 2>"$work/requests" >/dev/null &
server_pid=$!
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
  sleep 0.1
done
url=http://127.0.0.1:$port/update.zip
requests() { grep -c 'GET /update.zip' "$work/requests" || true; }

# Runs the updater copied into folder (a Unix path) with these first
# options, in the environment of env's arguments; prints its exit code.
run() {
  local folder=$1 options=$2; shift 2
  local status=0
  # shellcheck disable=SC2086  # options: none, or words without spaces
  env "$@" "$WINE64" "$folder/updater.exe" $options -url "$url" \
    -dest "$(win "$work/target/marker_target.exe")" -log "$(win "$work/run.log")" \
    </dev/null >/dev/null 2>&1 || status=$?
  echo "$status"
}
# True once the target has left its marker (it is opened without waiting).
target_started() {
  for _ in $(seq 300); do
    [ -e "$work/target/marker_target.exe.started" ] && return 0
    sleep 0.1
  done
  return 1
}

for length in 230 231 248 250 262; do
  base=$work/long-$length
  folder=$base
  while [ ${#folder} -lt $((length - 2)) ]; do  # "Z:" is not in the Unix path
    left=$((length - 2 - ${#folder} - 1))
    folder=$folder/$(printf 'd%.0s' $(seq $((left > 100 ? 100 : left))))
  done
  mkdir -p "$folder"
  cp "$updater" "$folder/"
  parent=$(dirname "$folder")
  : >"$folder/7.tarnwick.zip"
  : >"$parent/7.tarnwick.zip"
  rm -f "$work/target/marker_target.exe.started" "$work/run.log"
  before=$(requests)
  code=$(run "$folder" -silent)
  if [ "$length" -le 230 ]; then
    check [ "$code" -eq 0 ]
    check [ "$(requests)" -eq $((before + 1)) ]
    check [ -f "$folder/note.txt" ]
    check [ ! -e "$folder/7.tarnwick.zip" ]  # the folder's own leftover is swept
    check target_started
  else
    check [ "$code" -eq 1 ]
    check [ "$(requests)" -eq "$before" ]
    check [ ! -e "$folder/note.txt" ]
    check [ -e "$folder/7.tarnwick.zip" ]
    check grep -q "Update refused.  The updater's folder .* has a path of $length characters" \
      "$work/run.log"
  fi
  check [ -e "$parent/7.tarnwick.zip" ]
  check [ ! -e "$parent/note.txt" ]
  echo "folder of $length characters: exit $code"
done

folder=$work/no-display
mkdir "$folder"
cp "$updater" "$folder/"
rm -f "$work/run.log"
before=$(requests)
code=$(run "$folder" "" -u DISPLAY)
check [ "$code" -eq 4 ]
check [ "$(requests)" -eq "$before" ]
check [ -z "$(find "$folder" -mindepth 1 ! -name updater.exe)" ]
check grep -q "no window: the progress dialog could not be created" "$work/run.log"
echo "no display: exit $code"

[ $fail -eq 0 ] && echo "updater places: passed"
exit $fail
