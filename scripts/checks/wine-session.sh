#!/usr/bin/env bash
# Wine sessions one after another in one shell, as scripts/test.sh runs
# them (x64, then x86): each one has a display that answers, and stopping
# one gives back the variables it set, so the next does not inherit the
# display of an Xvfb that is gone.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$here/build/windows
[ -f "$build/CMakeCache.txt" ] || (cd "$here" && cmake --preset windows >/dev/null)
# shellcheck source=scripts/wine-session.sh
. "$here/scripts/wine-session.sh"

unset DISPLAY  # as in CI: the session brings its own
session_env() { env | grep -E '^(DISPLAY|WINEPREFIX|QEMU_RESERVED_VA|UPDATER_TEST_TIME_SCALE)=' | sort || true; }
before=$(session_env)
failures=0
for round in first second; do
  wine_session_start "$build"
  if ! xdpyinfo >/dev/null 2>&1; then
    echo "FAIL: the $round session's display ${DISPLAY:-(none)} does not answer" >&2
    failures=$((failures + 1))
  fi
  wine_session_stop
  if [ "$(session_env)" != "$before" ]; then
    echo "FAIL: after the $round session: $(session_env | tr '\n' ' ')" >&2
    failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ] || exit 1
echo "wine sessions: two in a row, each with a display; variables restored"
