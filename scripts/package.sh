#!/usr/bin/env bash
# Builds the release configuration of both architectures and writes what a
# vendor ships into build/dist/x64 and build/dist/x86: updater.exe,
# quorvell.dll and unpack.exe, stripped, with the C and C++ runtimes linked
# in (they import Windows DLLs only). Prints each file's size.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"

shipped=(updater/updater.exe quorvell/quorvell.dll tools/unpack/unpack.exe)
for arch in x64 x86; do
  case $arch in
    x64) preset=windows tools=x86_64-w64-mingw32 ;;
    x86) preset=windows-x86 tools=i686-w64-mingw32 ;;
  esac
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target updater quorvell unpack >/dev/null
  dist="$here/build/dist/$arch"
  rm -rf "$dist"
  mkdir -p "$dist"
  for file in "${shipped[@]}"; do
    "$tools-strip" -o "$dist/$(basename "$file")" "$here/build/$preset/$file"
  done
done

for arch in x64 x86; do
  for file in "${shipped[@]}"; do
    path="build/dist/$arch/$(basename "$file")"
    bytes=$(stat -c %s "$path")
    awk -v p="$path" -v b="$bytes" 'BEGIN { printf "%-28s %8d bytes  %6.1f KiB\n", p, b, b / 1024 }'
  done
done
