#!/usr/bin/env bash
# Fetches zstd's library sources (lib/ of Debian's libzstd source package)
# into DEST (default: build/third_party/zstd), through
# scripts/debian-source.sh. cmake/Zstd.cmake builds them for Windows.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$here/build/third_party/zstd}
[ -f "$dest/lib/zstd.h" ] && exit 0
# shellcheck source=debian-source.sh
. "$here/scripts/debian-source.sh"

work=$here/build/third_party/apt
orig=$(debian_source libzstd "$work")
tmp=$work/unpacked-zstd
rm -rf "$tmp" && mkdir -p "$tmp"
tar -xf "$orig" -C "$tmp"
src=$(dirname "$(find "$tmp" -path '*/lib/zstd.h' | head -n 1)")
[ -f "$src/decompress/zstd_decompress.c" ] || { echo "zstd's lib/ not found in $orig" >&2; exit 1; }
rm -rf "$dest" && mkdir -p "$dest"
cp -r "$src" "$dest/lib"
[ -f "$src/../LICENSE" ] && cp "$src/../LICENSE" "$dest/"
rm -rf "$tmp"
echo "zstd from $(basename "$orig") in $dest"
