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

# 32-bit Windows programs need the 32-bit Wine loader, a 32-bit Linux
# program. Where the kernel cannot execute it, qemu-i386 runs it: binfmt_misc
# hands every 32-bit x86 ELF program to the emulator. Each step is skipped
# when already done, and nothing found in place is changed or undone. Where
# a step is refused, the x86 tests are skipped (scripts/test.sh says why).
setup_x86_emulation() {
  local wine32=/usr/lib/wine/wine binfmt=/proc/sys/fs/binfmt_misc sudo=""
  [ -x "$wine32" ] || return 0
  "$wine32" --version >/dev/null 2>&1 && return 0
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "bootstrap: this kernel cannot run 32-bit programs; setting up qemu-i386"
  if [ "$(dpkg-query -W -f='${Status}' qemu-user 2>/dev/null)" != "install ok installed" ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq qemu-user >/dev/null ||
      { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq qemu-user >/dev/null; } ||
      { echo "bootstrap: installing qemu-user failed" >&2; return 0; }
  fi
  if [ ! -e "$binfmt/register" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt" ||
      { echo "bootstrap: mounting binfmt_misc on $binfmt was refused" >&2; return 0; }
    echo "bootstrap: mounted binfmt_misc on $binfmt"
  fi
  if [ -e "$binfmt/qemu-i386" ]; then
    echo "bootstrap: $binfmt/qemu-i386 is registered already; using it as it is"
  else
    # The line Debian's qemu-user-binfmt has for qemu-i386: i386 ELF
    # executables (type 2, machine 3). Flag M only, no F: the emulator is
    # opened when a program starts, which works wherever /usr/bin/qemu-i386
    # is visible, as it is outside containers and chroots.
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    # shellcheck disable=SC2016  # expanded by that shell
    $sudo sh -c 'printf "%s" "$1" >"$2"' sh ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386:" \
      "$binfmt/register" ||
      { echo "bootstrap: registering qemu-i386 in $binfmt was refused" >&2; return 0; }
    echo "bootstrap: registered $binfmt/qemu-i386 (32-bit programs run under /usr/bin/qemu-i386)"
  fi
  "$wine32" --version >/dev/null 2>&1 ||
    echo "bootstrap: $wine32 does not start under qemu-i386 either" >&2
}
setup_x86_emulation
