# shellcheck shell=bash
# Sourced by the scripts that run Windows programs. Gives them a Wine prefix
# of their own inside the build folder and an Xvfb display when there is no
# working display, and stops exactly what it started (call
# wine_session_stop, or leave it to the EXIT trap that wine_session_start
# sets). Stopping also restores the variables the session set, so sessions
# can follow each other in one shell.
#
# Usage: wine_session_start BUILD_DIR
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE64=/usr/lib/wine/wine64
# The 32-bit loader (package wine32:i386); it runs 64-bit programs too.
WINE32=/usr/lib/wine/wine
# Where 32-bit Linux programs run under qemu-i386, Wine needs this address
# space reserved (the emulator's default overlaps the shared user data
# Wine maps: "failed to map the shared user data", c0000018).
WINE_QEMU_RESERVED_VA=0xf7000000
# How much longer the tests wait for windows and programs under emulation,
# where each 32-bit program start costs 45-70 s instead of well under one
# (testing/time_scale.h).
WINE_EMULATED_TIME_SCALE=10
_wine_xvfb_pid=""
_wine_started=""
_wine_saved_env=()

# Sets NAME=VALUE (exported) until wine_session_stop, which restores what
# NAME was before.
_wine_session_export() {
  local name=$1 value=$2
  if [ -n "${!name+set}" ]; then
    _wine_saved_env+=("$name=${!name}")
  else
    _wine_saved_env+=("$name")
  fi
  export "$name=$value"
}

wine_session_stop() {
  if [ -n "$_wine_started" ]; then
    WINEPREFIX="$WINEPREFIX" wineserver -k </dev/null >/dev/null 2>&1 || true
    WINEPREFIX="$WINEPREFIX" wineserver -w </dev/null >/dev/null 2>&1 || true
    _wine_started=""
  fi
  if [ -n "$_wine_xvfb_pid" ]; then
    kill "$_wine_xvfb_pid" 2>/dev/null || true
    wait "$_wine_xvfb_pid" 2>/dev/null || true
    _wine_xvfb_pid=""
  fi
  local saved
  for saved in "${_wine_saved_env[@]}"; do
    # shellcheck disable=SC2163  # saved is NAME=VALUE or NAME
    if [[ $saved == *=* ]]; then export "$saved"; else unset "$saved"; fi
  done
  _wine_saved_env=()
}

# Fonts for the Chinese texts: SimSun ("宋体") is replaced by a free CJK font.
_wine_fonts_reg() {
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  printf '"SimSun"="WenQuanYi Micro Hei"\r\n'
  printf '"宋体"="WenQuanYi Micro Hei"\r\n'
  printf '"NSimSun"="WenQuanYi Micro Hei"\r\n'
}

# True when this machine runs 32-bit Windows programs: the 32-bit loader is
# installed and the kernel can execute it, natively or through qemu-i386
# (scripts/bootstrap.sh sets that up where the kernel cannot). Prints the
# reason when not.
wine_runs_32bit() {
  if [ ! -x "$WINE32" ]; then
    echo "$WINE32 is not installed (package wine32:i386)"
    return 1
  fi
  if ! "$WINE32" --version >/dev/null 2>&1; then
    echo "the kernel cannot execute the 32-bit Wine loader $WINE32 ($(uname -r) lacks 32-bit support, and no qemu-i386 emulation is registered)"
    return 1
  fi
}

# True when 32-bit Linux programs run under qemu-i386: an enabled
# binfmt_misc entry sends them to it. binfmt_misc is asked before the
# kernel's own ELF loader, so such an entry is used even by a kernel that
# could run them natively.
wine_emulates_32bit() {
  local dir=/proc/sys/fs/binfmt_misc entry
  [ "$(head -n 1 "$dir/status" 2>/dev/null)" = enabled ] || return 1
  for entry in "$dir"/*; do
    case ${entry##*/} in register | status) continue ;; esac
    [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
    grep -q '^interpreter .*/qemu-i386[^/]*$' "$entry" 2>/dev/null && return 0
  done
  return 1
}

# True when BUILD_DIR was configured for 32-bit Windows.
_wine_build_is_32bit() {
  grep -qs '^set(CMAKE_SYSTEM_PROCESSOR "x86")' "$1"/CMakeFiles/*/CMakeSystem.cmake
}

_wine_display_works() {
  [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

# Starts Xvfb on the first free display from :90 on and exports DISPLAY
# once the server answers.
_wine_start_xvfb() {
  local n deadline
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    _wine_xvfb_pid=$!
    deadline=$((SECONDS + 30))
    # Ours answers, or it ended (another server took the number first).
    while kill -0 "$_wine_xvfb_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
      if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
        _wine_session_export DISPLAY ":$n"
        return 0
      fi
      sleep 0.1
    done
    kill "$_wine_xvfb_pid" 2>/dev/null || true
    wait "$_wine_xvfb_pid" 2>/dev/null || true
    _wine_xvfb_pid=""
  done
  echo "no free X display for Xvfb" >&2
  return 1
}

wine_session_start() {
  local build=$1
  _wine_session_export WINEPREFIX "$build/wineprefix"
  trap wine_session_stop EXIT
  if _wine_build_is_32bit "$build" && wine_runs_32bit >/dev/null; then
    if wine_emulates_32bit; then
      _wine_session_export QEMU_RESERVED_VA "$WINE_QEMU_RESERVED_VA"
      _wine_session_export UPDATER_TEST_TIME_SCALE "$WINE_EMULATED_TIME_SCALE"
    fi
    # A prefix made before 32-bit programs could run (wine32 not yet
    # installed, or the emulation not yet in place) has no 32-bit system
    # folder; 32-bit programs in it end with "could not load kernel32.dll".
    # Such a prefix is made anew.
    if [ -f "$WINEPREFIX/system.reg" ] &&
      [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
      echo "wine session: $WINEPREFIX predates 32-bit Wine; making it anew"
      wineserver -k </dev/null >/dev/null 2>&1 || true
      rm -rf "$WINEPREFIX"
    fi
  fi
  mkdir -p "$WINEPREFIX"
  _wine_display_works || _wine_start_xvfb || return 1
  # Wine's background services inherit the standard streams of the first
  # program in the prefix; start them detached so no pipe stays open.
  _wine_started=1
  wineserver -p 600 </dev/null >/dev/null 2>&1
  "$WINE64" wineboot </dev/null >/dev/null 2>&1
  if [ ! -f "$WINEPREFIX/.fonts-set" ]; then
    _wine_fonts_reg | iconv -f UTF-8 -t UTF-16 >"$WINEPREFIX/fonts.reg"
    "$WINE64" regedit "$(winepath_of "$WINEPREFIX/fonts.reg")" </dev/null >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.fonts-set"
  fi
}

winepath_of() { echo "Z:${1//\//\\}"; }
