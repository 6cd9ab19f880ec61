#!/usr/bin/env bash
# Builds the native (sanitized) and the Windows configuration and runs every
# test of both with ctest. Windows tests run under Wine in a prefix of their
# own, with an Xvfb display when there is none.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"

cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset windows >/dev/null
cmake --build --preset windows

status=0
echo "== native tests"
ctest --preset native -j2 || status=1

echo "== Windows tests (Wine)"
# shellcheck source=wine-session.sh
. "$here/scripts/wine-session.sh"
wine_session_start "$here/build/windows"
# Programs driven through their windows under Wine depend on timing; a test
# that fails is run once more, and both runs are shown.
ctest --preset windows -j2 --repeat until-pass:2 || status=1
wine_session_stop

# Extra checks that are scripts rather than test programs.
for check in "$here"/scripts/checks/*.sh; do
  [ -f "$check" ] || continue
  echo "== $(basename "$check")"
  bash "$check" || status=1
done

if [ $status -eq 0 ]; then echo "all tests passed"; else echo "some tests FAILED"; fi
exit $status
