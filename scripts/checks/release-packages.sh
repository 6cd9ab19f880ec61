#!/usr/bin/env bash
# Makes the release packages (scripts/package.sh) and checks what a vendor
# would ship: updater.exe at most 320 KiB on each architecture (zstd's
# decoder for small updates takes about 40 KiB of it on x86), every
# shipped file of the right architecture and importing only DLLs that are
# part of Windows (no MinGW runtime, no zlib, nothing of this project), and
# quorvell.dll's export table.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
limit=$((320 * 1024))

"$here/scripts/package.sh"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for arch in x64 x86; do
  case $arch in
    x64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 ;;
    x86) objdump=i686-w64-mingw32-objdump format=pei-i386 ;;
  esac
  dist="$here/build/dist/$arch"
  size=$(stat -c %s "$dist/updater.exe")
  [ "$size" -le "$limit" ] || fail "$arch updater.exe is $size bytes, more than $limit"
  for file in updater.exe quorvell.dll unpack.exe; do
    dump=$("$objdump" -p "$dist/$file")
    grep -q "file format $format\$" <<<"$dump" || fail "$arch $file is not a $format image"
    for import in $(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump"); do
      case "${import,,}" in
        kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | shlwapi.dll) ;;
        ole32.dll | oleaut32.dll | urlmon.dll | wininet.dll | comctl32.dll | version.dll) ;;
        bcrypt.dll | crypt32.dll | ncrypt.dll | ntdll.dll | msvcrt.dll | ws2_32.dll) ;;
        rstrtmgr.dll) ;;
        *) fail "$arch $file imports $import, which is not part of Windows" ;;
      esac
    done
  done
  bash "$here/scripts/checks/quorvell-exports.sh" "$dist/quorvell.dll" "$arch" || failures=$((failures + 1))
done

if [ $failures -ne 0 ]; then
  echo "release packages: $failures problem(s)" >&2
  exit 1
fi
echo "release packages: updater.exe within $limit bytes on x64 and x86; Windows DLLs imported only"
