#!/usr/bin/env bash
# Acceptance of the extraction (native build): archives made by Info-ZIP zip
# and by Python's zipfile extract with `unpack extract` to the same bytes and
# modification times as Info-ZIP unzip gives; a `zip -P` archive extracts with
# its password like `unzip -P`, and without it every entry is refused with
# the password code, the exit status is non-zero and the folder's files stay.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$here/build/native
cmake --build "$build" --target unpack >/dev/null
unpack=$build/tools/unpack/unpack

work=$(mktemp -d "${TMPDIR:-/tmp}/unpack-acceptance.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
# A zone without daylight saving: DOS stamps are local time for both tools.
export TZ=JST-9
fail=0
check() { if ! "$@"; then echo "FAIL: $*"; fail=1; fi; }

# Source tree: sizes around the 16384-byte buffer, compressible and random
# data, nested folders, a read-only file, a name with spaces.
src=$work/src
mkdir -p "$src/docs/deep/er" "$src/bin"
: >"$src/empty.txt"
head -c 16384 /dev/urandom >"$src/bin/exact.bin"
head -c 16385 /dev/urandom >"$src/bin/one more.bin"
seq 1 200000 >"$src/docs/numbers.txt"
head -c 300000 /dev/urandom >"$src/docs/deep/er/random.bin"
echo "read only" >"$src/docs/ro.txt"
chmod 444 "$src/docs/ro.txt"
touch -d '2019-03-04 05:06:08' "$src/docs/numbers.txt"
touch -d '2001-02-03 04:05:06' "$src/bin/exact.bin"

(cd "$src" && zip -q -r "$work/infozip.zip" .)
(cd "$src" && python3 - "$work/python.zip" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for root, dirs, files in sorted(os.walk(".")):
        for name in sorted(dirs + files):
            path = os.path.join(root, name)
            z.write(path, os.path.relpath(path, "."))
PY
)
# Without its empty file: an empty entry has no data whose check could tell a
# wrong password from the right one.
(cd "$src" && zip -q -r -D -P secret "$work/secret.zip" . -x empty.txt)

# "path mtime" of every file below a folder.
stamps() { (cd "$1" && find . -type f -printf '%P %T@\n' | sed 's/\.[0-9]*$//' | sort); }

same_as_unzip() {
  local archive=$1 name=$2; shift 2
  local by_unzip=$work/out-unzip-$name by_unpack=$work/out-unpack-$name
  mkdir -p "$by_unzip"
  unzip -o -q "$@" "$archive" -d "$by_unzip"
  local pw=()
  [ $# -gt 0 ] && pw=(--password "$2")
  if ! "$unpack" extract "${pw[@]}" "$archive" "$by_unpack" >"$work/$name.log"; then
    echo "FAIL: unpack extract $name"; cat "$work/$name.log"; fail=1; return
  fi
  check diff -r "$by_unzip" "$by_unpack"
  check diff <(stamps "$by_unzip") <(stamps "$by_unpack")
  echo "$name: $(stamps "$by_unpack" | wc -l) files identical in bytes and modification times"
}

same_as_unzip "$work/infozip.zip" infozip
same_as_unzip "$work/python.zip" python
same_as_unzip "$work/secret.zip" secret -P secret

# Without the password: every entry is refused and nothing changes. The
# cipher's check byte lets a wrong password through for 1 entry in 256; such
# an entry then fails on its damaged data instead.
folder=$work/out-nopassword
mkdir -p "$folder/docs"
echo old >"$folder/docs/numbers.txt"
before=$(cd "$folder" && find . -type f -printf '%P %s %T@\n' | sort)
if "$unpack" extract "$work/secret.zip" "$folder" >"$work/nopassword.log" 2>&1; then
  echo "FAIL: extraction without the password exited 0"; fail=1
fi
entries=$(unzip -Z1 "$work/secret.zip" | wc -l)
refused=$(grep -cE '^ *[0-9]+ 0x(1000|5000000) ' "$work/nopassword.log" || true)
check [ "$refused" -eq "$entries" ]
check [ "$before" = "$(cd "$folder" && find . -type f -printf '%P %s %T@\n' | sort)" ]
echo "secret.zip without password: $refused of $entries entries refused, its files unchanged"

# Hostile archives: 3000 empty stored entries that each claim 4 GiB (12 TiB
# in all) are refused as a whole before anything is written; 3 records under
# an end record promising 9 are listed up to the damage, and the listing ends.
python3 - "$work/claims.zip" "$work/outrun.zip" <<'PY'
import struct, sys
def archive(names, size, promised):
    local, central = b"", b""
    for name in names:
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 33, 0, 0, size,
                             len(name), 0) + name
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 33, 0, 0,
                               size, len(name), 0, 0, 0, 0, 0x20, offset) + name
    return local + central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, promised, promised,
                                         len(central), len(local), 0)
names = [b"f%05d.bin" % i for i in range(3000)]
open(sys.argv[1], "wb").write(archive(names, 0xFFFFFF00, len(names)))
open(sys.argv[2], "wb").write(archive([c * 100 for c in (b"a", b"b", b"c")], 0, 9))
PY
if "$unpack" extract "$work/claims.zip" "$work/out-claims" >"$work/claims.log" 2>&1; then
  echo "FAIL: an archive larger than the free space was extracted"; fail=1
fi
check grep -q "nothing extracted" "$work/claims.log"
check [ ! -e "$work/out-claims" ]
"$unpack" list "$work/outrun.zip" >"$work/outrun.log" || true
check grep -q "entries 4 to 8 lie behind a damaged central record" "$work/outrun.log"
check [ "$(grep -c 'error' "$work/outrun.log")" -eq 1 ]
echo "hostile archives: refused up front, listing ends at the damage"

[ $fail -eq 0 ] && echo "unpack acceptance: passed"
exit $fail
