#!/usr/bin/env bash
# Builds the native (sanitized), the Windows x64 and the Windows x86
# configuration and runs their tests with ctest: every test natively and on
# x64, the end-to-end tests of updater.exe and the tests of quorvell.dll on
# x86. Windows tests run under Wine in a prefix of their own, with an Xvfb
# display when there is none. Each test runs once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"

cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86-tests

status=0
echo "== native tests"
ctest --preset native -j2 || status=1

echo "== Windows x64 tests (Wine)"
# shellcheck source=wine-session.sh
. "$here/scripts/wine-session.sh"
wine_session_start "$here/build/windows"
ctest --preset windows -j2 || status=1
wine_session_stop

echo "== Windows x86 tests (Wine, 32-bit)"
if reason=$(wine_runs_32bit); then
  wine_session_start "$here/build/windows-x86"
  ctest --preset windows-x86 -j2 || status=1
  wine_session_stop
else
  # Built and checked (scripts/checks/release-packages.sh) all the same.
  echo "SKIPPED: this machine cannot run 32-bit Windows programs: $reason"
fi

# Extra checks that are scripts rather than test programs.
for check in "$here"/scripts/checks/*.sh; do
  [ -f "$check" ] || continue
  echo "== $(basename "$check")"
  bash "$check" || status=1
done

if [ $status -eq 0 ]; then echo "all tests passed"; else echo "some tests FAILED"; fi
exit $status
