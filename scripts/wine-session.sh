# Sourced by the scripts that run Windows programs. Gives them a Wine prefix
# of their own inside the build folder and an Xvfb display when there is no
# display, and stops exactly what it started (call wine_session_stop, or
# leave it to the EXIT trap that wine_session_start sets).
#
# Usage: wine_session_start BUILD_DIR
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE64=/usr/lib/wine/wine64
# The 32-bit loader (package wine32:i386); it runs 64-bit programs too.
WINE32=/usr/lib/wine/wine
_wine_xvfb_pid=""
_wine_started=""

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
# installed and the kernel can execute it (some kernels are built without
# 32-bit support). Prints the reason when not.
wine_runs_32bit() {
  if [ ! -x "$WINE32" ]; then
    echo "$WINE32 is not installed (package wine32:i386)"
    return 1
  fi
  if ! "$WINE32" --version >/dev/null 2>&1; then
    echo "the kernel cannot execute the 32-bit Wine loader $WINE32 ($(uname -r) lacks 32-bit support)"
    return 1
  fi
}

wine_session_start() {
  local build=$1
  export WINEPREFIX="$build/wineprefix"
  # A prefix made before the 32-bit loader was installed has no 32-bit
  # system folder; 32-bit programs in it end with "could not load
  # kernel32.dll". Such a prefix is made anew.
  if [ -f "$WINEPREFIX/system.reg" ] && wine_runs_32bit >/dev/null &&
    [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "wine session: $WINEPREFIX predates 32-bit Wine; making it anew"
    WINEPREFIX="$WINEPREFIX" wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  mkdir -p "$WINEPREFIX"
  trap wine_session_stop EXIT
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      _wine_xvfb_pid=$!
      sleep 0.5
      if kill -0 "$_wine_xvfb_pid" 2>/dev/null; then
        export DISPLAY=":$n"
        break
      fi
      _wine_xvfb_pid=""
    done
    [ -n "${DISPLAY:-}" ] || { echo "no free X display for Xvfb" >&2; return 1; }
  fi
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
