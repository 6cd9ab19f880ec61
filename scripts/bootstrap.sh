#!/usr/bin/env bash
# Installs what building and testing need and is missing; changes nothing
# else on the machine. Quick when everything is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  libz-mingw-w64-dev zlib1g-dev libzstd-dev
  googletest libgtest-dev
  wine64 wine32:i386 xvfb x11-utils imagemagick fonts-wqy-microhei
  python3 python3-pefile zip unzip dpkg-dev time locales
  libssl-dev openssl
)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  # Packages named PACKAGE:i386 need the i386 architecture, and the update
  # below to learn its package lists.
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

"$here/scripts/fetch-minizip.sh"
"$here/scripts/fetch-zstd.sh"
