#!/usr/bin/env bash
# The unpack tool's command line (native build): a FOLDER that cannot be the
# base (empty, or too long) stops `unpack extract` with exit 2 before
# anything is written, and `unpack list` shows control characters in names
# escaped, so that a carriage return cannot hide another name.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$here/build/native
cmake --build "$build" --target unpack >/dev/null
unpack=$build/tools/unpack/unpack

work=$(mktemp -d "${TMPDIR:-/tmp}/unpack-command-line.XXXXXX")
marker="unpack-command-line-$$.txt"
trap 'rm -rf "$work"; rm -f "/$marker"' EXIT
fail=0
check() { if ! "$@"; then echo "FAIL: $*"; fail=1; fi; }

python3 - "$work/names.zip" "$marker" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr(sys.argv[2], "marker")
    z.writestr("evil.txt\rgood.txt", "spoof")
    z.writestr("bell\x01\x7f.txt", "ding")
PY

# Bad folders: exit 2, and nothing written to the root or the current folder.
mkdir "$work/cwd"
long=$work/$(printf 'f%.0s' $(seq 300))
for folder in "" "$long"; do
  status=0
  (cd "$work/cwd" && "$unpack" extract "$work/names.zip" "$folder" >/dev/null 2>&1) || status=$?
  check [ "$status" -eq 2 ]
  check [ ! -e "/$marker" ]
  check [ -z "$(ls -A "$work/cwd")" ]
  check [ ! -e "$long" ]
done
echo "bad folders: exit 2, nothing written"

listing=$("$unpack" list "$work/names.zip")
check [ "$(printf '%s' "$listing" | tr -d '\n' | tr -dc '\001-\037\177' | wc -c)" -eq 0 ]
check grep -qF 'evil.txt\rgood.txt' <<<"$listing"
check grep -qF 'bell\x01\x7F.txt' <<<"$listing"
echo "list: control characters escaped"

[ $fail -eq 0 ] && echo "unpack command line: passed"
exit $fail
