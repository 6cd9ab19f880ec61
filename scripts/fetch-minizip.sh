#!/usr/bin/env bash
# Fetches minizip (contrib/minizip of Debian's zlib source package) into
# DEST (default: build/third_party/minizip), through scripts/debian-source.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$here/build/third_party/minizip}
[ -f "$dest/unzip.c" ] && exit 0
# shellcheck source=debian-source.sh
. "$here/scripts/debian-source.sh"

work=$here/build/third_party/apt
orig=$(debian_source zlib "$work")
tmp=$work/unpacked
rm -rf "$tmp" && mkdir -p "$tmp"
tar -xf "$orig" -C "$tmp"
src=$(find "$tmp" -type d -path '*contrib/minizip' | head -n 1)
[ -f "$src/unzip.c" ] || { echo "minizip not found in $orig" >&2; exit 1; }
mkdir -p "$dest"
cp "$src"/{unzip.c,unzip.h,ioapi.c,ioapi.h,crypt.h} "$dest"/
echo "minizip from $(basename "$orig") in $dest"
