#!/usr/bin/env bash
# Checks the export and import tables of the built quorvell.dll: a library
# of the expected architecture named quorvell.dll in its export directory,
# exactly one export, ExportedFunction, undecorated, at ordinal 1, and
# imports of system libraries only (no MinGW runtime DLL, nothing of this
# project).
# Usage: quorvell-exports.sh [path to quorvell.dll [x64|x86]]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
dll=${1:-$here/build/windows/quorvell/quorvell.dll}
case ${2:-x64} in
  x64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 ;;
  x86) objdump=i686-w64-mingw32-objdump format=pei-i386 ;;
  *) echo "unknown architecture $2" >&2; exit 2 ;;
esac

if [ $# -eq 0 ]; then
  # Build it (configuring first if need be); a no-op when it is up to date.
  [ -f "$here/build/windows/build.ninja" ] || (cd "$here" && cmake --preset windows >/dev/null)
  cmake --build "$here/build/windows" --target quorvell >/dev/null
fi
[ -f "$dll" ] || { echo "FAIL: $dll does not exist" >&2; exit 1; }

dump=$("$objdump" -p "$dll")
failures=0
# A list of lines as one line, for messages.
one_line() { tr '\n' ' ' <<<"$1" | sed 's/ *$//'; }
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The export directory: library name, ordinal base, counts, names.
exports=$(sed -n '/^The Export Tables/,/^The Function Table\|^PE File Base Relocations/p' <<<"$dump")
[ -n "$exports" ] || fail "no export table"

grep -q "file format $format\$" <<<"$dump" || fail "not a $format Windows image"

library_name=$(awk -F'\t+' '$1 == "Name " || $1 == "Name" {print $2}' <<<"$exports" | awk '{print $2}')
[ "$library_name" = "quorvell.dll" ] || fail "export directory names '$library_name', expected 'quorvell.dll'"

ordinal_base=$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\)$/\1/p' <<<"$exports")
address_count=$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$exports" | head -1)
name_count=$(sed -n 's/^[[:space:]]*\[Name Pointer\/Ordinal\] Table[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$exports")
[ "$((16#${address_count:-0}))" -eq 1 ] || fail "export address table has ${address_count:-no} entries, expected 1"
[ "$((16#${name_count:-0}))" -eq 1 ] || fail "name table has ${name_count:-no} entries, expected 1"

# Entries of the address table: "[i] +base[ordinal] rva Export RVA".
ordinals=$(sed -n 's/^[[:space:]]*\[ *[0-9]*\] +base\[ *\([0-9]*\)\].*/\1/p' <<<"$exports")
[ "$ordinals" = "1" ] || fail "exported ordinals are '$(one_line "$ordinals")', expected '1'"

# Entries of the name table: "[index] name", the ordinal being base + index.
names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$exports" |
  sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p')
[ "$(wc -l <<<"$names")" -eq 1 ] || fail "exported names: $(one_line "$names")"
read -r name_index name_text <<<"$names"
[ "$name_text" = "ExportedFunction" ] || fail "exported name is '$name_text', expected 'ExportedFunction'"
[ "$((${ordinal_base:-0} + ${name_index:-99}))" -eq 1 ] ||
  fail "'$name_text' has ordinal $((${ordinal_base:-0} + ${name_index:-99})), expected 1"

# Imports: system libraries only.
imports=$(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump")
[ -n "$imports" ] || fail "no import table"
for import in $imports; do
  case "${import,,}" in
    kernel32.dll | ntdll.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | user32.dll | advapi32.dll) ;;
    *) fail "imports $import, which is not a system library" ;;
  esac
done

if [ $failures -ne 0 ]; then
  echo "quorvell.dll export/import check: $failures problem(s) in $dll" >&2
  echo "--- export table as objdump shows it:" >&2
  echo "$exports" | head -30 >&2
  echo "--- imports: $(one_line "$imports")" >&2
  exit 1
fi
echo "quorvell.dll: one export ExportedFunction @1 in quorvell.dll; imports $(one_line "$imports")"
