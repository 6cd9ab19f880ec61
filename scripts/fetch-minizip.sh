#!/usr/bin/env bash
# Fetches minizip (contrib/minizip of Debian's zlib source package) into
# DEST (default: build/third_party/minizip). apt is pointed at a private
# source list and lists folder inside the build area, built from the
# machine's own Debian sources; the machine's apt configuration is not touched.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$here/build/third_party/minizip}
[ -f "$dest/unzip.c" ] && exit 0

work=$here/build/third_party/apt
mkdir -p "$work/lists/partial" "$work/src"

# deb-src entries for every Debian archive the machine already uses.
list=$work/sources.list
: >"$list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  grep -E '^deb ' "$f" | grep -v -i -E 'nodesource|google|security' | sed 's/^deb /deb-src /' >>"$list" || true
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  awk 'BEGIN{RS=""; ORS="\n\n"} /Types:[^\n]*deb/ && $0 ~ /debian/ && $0 !~ /security/ {sub(/Types:[^\n]*/, "Types: deb-src"); print}' "$f" >"$work/$(basename "$f")"
done
opts=(-o Dir::Etc::SourceList="$list" -o Dir::Etc::SourceParts="$work"
      -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
apt-get "${opts[@]}" -qq update >/dev/null
(cd "$work/src" && apt-get "${opts[@]}" -qq source --download-only zlib >/dev/null)

orig=$(ls "$work"/src/zlib_*.orig.tar.* | head -n 1)
tmp=$work/unpacked
rm -rf "$tmp" && mkdir -p "$tmp"
tar -xf "$orig" -C "$tmp"
src=$(find "$tmp" -type d -path '*contrib/minizip' | head -n 1)
[ -f "$src/unzip.c" ] || { echo "minizip not found in $orig" >&2; exit 1; }
mkdir -p "$dest"
cp "$src"/{unzip.c,unzip.h,ioapi.c,ioapi.h,crypt.h} "$dest"/
echo "minizip from $(basename "$orig") in $dest"
