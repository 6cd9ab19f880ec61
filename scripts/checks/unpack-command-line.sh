#!/usr/bin/env bash
# The unpack tool's command line (native build): a FOLDER that cannot be the
# base (empty, or too long) stops `unpack extract` with exit 2 before
# anything is written, and `unpack list` shows control characters in names
# escaped, so that a carriage return cannot hide another name. Entries
# larger than the folder's free space stop it before anything is written,
# Zip64 sizes above 4 GiB included, and so do names the updater refuses.
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

# Zip64 entries that claim more than 4 GiB (their data is one byte): the
# free-space check adds the sizes in 64 bits, without wrapping round.
python3 - "$work" <<'PY'
import struct, sys, zlib
def archive(path, sizes):
    local, central = b"", b""
    for i, size in enumerate(sizes):
        name = b"huge%d.bin" % i
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        data = c.compress(b"x") + c.flush()
        crc = zlib.crc32(b"x")
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 8, 0, 33, crc, len(data),
                             0xFFFFFFFF, len(name), 0) + name + data
        extra = struct.pack("<HHQ", 1, 8, size)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 8, 0, 33, crc,
                               len(data), 0xFFFFFFFF, len(name), len(extra), 0, 0, 0, 0x20,
                               offset) + name + extra
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(sizes), len(sizes), len(central),
                      len(local), 0)
    open(path, "wb").write(local + central + end)
archive(sys.argv[1] + "/over-4gib.zip", [(1 << 50) + 10])
archive(sys.argv[1] + "/sum-wraps.zip", [1 << 63, (1 << 63) + 5])
PY
for name in over-4gib sum-wraps; do
  mkdir "$work/$name"
  status=0
  "$unpack" extract "$work/$name.zip" "$work/$name" >/dev/null 2>"$work/$name.err" || status=$?
  check [ "$status" -eq 1 ]
  check grep -q "nothing extracted" "$work/$name.err"
  check [ -z "$(ls -A "$work/$name")" ]
done
echo "zip64 sizes: counted in 64 bits, nothing extracted"

# Archives the updater refuses before writing anything: unpack refuses them
# too, and says why.
python3 - "$work" <<'PY'
import sys, zipfile
for name, entries in [("reserved", ["readme.txt", "~UPDATE.journal"]),
                      ("one-file", ["\u00c4.txt", "readme.txt", "\u00e4.txt"])]:
    with zipfile.ZipFile(sys.argv[1] + "/" + name + ".zip", "w") as z:
        for entry in entries:
            z.writestr(entry, "data")
PY
for name in reserved one-file; do
  mkdir "$work/$name"
  status=0
  "$unpack" extract "$work/$name.zip" "$work/$name" >/dev/null 2>"$work/$name.err" || status=$?
  check [ "$status" -eq 1 ]
  check grep -q "the updater refuses this archive, nothing extracted: Update refused." \
    "$work/$name.err"
  check [ -z "$(ls -A "$work/$name")" ]
done
echo "names the updater refuses: nothing extracted"

# A release record heads the archives unpack make writes: extract passes it
# over and checks the names after it.
mkdir -p "$work/product/bin" "$work/made"
echo "app" >"$work/product/bin/app.exe"
"$unpack" make "$work/product" "$work/made.zip" --version 1.0.0 >/dev/null
check "$unpack" extract "$work/made.zip" "$work/made" >/dev/null
check [ -f "$work/made/bin/app.exe" ]
echo "a full archive with its release record: extracted"

[ $fail -eq 0 ] && echo "unpack command line: passed"
exit $fail
