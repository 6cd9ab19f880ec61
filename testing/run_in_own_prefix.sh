#!/usr/bin/env bash
# Runs a Windows test program in a Wine prefix of its own, made for this run
# and removed afterwards: for tests that change the prefix's settings (the
# screen's DPI, say) and must not disturb the tests running beside them in
# the shared one. Uses the caller's X display, or an Xvfb of its own when
# there is none. Exits with the program's exit code.
#
# Usage: run_in_own_prefix.sh EMULATOR PROGRAM [ARGUMENTS...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
emulator=$1
shift
run=$(mktemp -d "${TMPDIR:-/tmp}/own-wine-prefix.XXXXXX")
# shellcheck source=scripts/wine-session.sh
. "$here/scripts/wine-session.sh"
cleanup() {
  wine_session_stop
  rm -rf "$run"
}
trap cleanup EXIT
wine_session_start "$run"
trap cleanup EXIT # wine_session_start set its own
"$emulator" "$@"
