#!/usr/bin/env bash
# Builds the native (sanitized), the Windows x64 and the Windows x86
# configuration and runs their tests with ctest: every test natively and on
# x64, and on x86 the whole suite or its subset (label x86-core: quorvell.dll,
# a good signed update, a refused damaged archive, the updater replacing
# itself). Windows tests run under Wine in a prefix of their own, with an
# Xvfb display when there is none. Each test runs once.
#
# UPDATER_X86_TESTS picks the x86 run: "all" (the default where the kernel
# runs 32-bit programs natively, a few minutes) or "core" (the default under
# qemu-i386 emulation, where every 32-bit program start costs about a
# minute).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"
# shellcheck source=scripts/wine-session.sh
. "$here/scripts/wine-session.sh"

x86_tests=${UPDATER_X86_TESTS:-}
case $x86_tests in
  "") if wine_runs_32bit >/dev/null && ! wine_emulates_32bit; then x86_tests=all; else x86_tests=core; fi ;;
  core | all) ;;
  *) echo "UPDATER_X86_TESTS must be core or all, not '$x86_tests'" >&2; exit 2 ;;
esac

cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset windows-x86 >/dev/null
if [ "$x86_tests" = all ]; then
  cmake --build --preset windows-x86
else
  cmake --build --preset windows-x86-tests
fi

status=0
echo "== native tests"
ctest --preset native -j2 || status=1

echo "== Windows x64 tests (Wine)"
wine_session_start "$here/build/windows"
ctest --preset windows -j2 || status=1
wine_session_stop

echo "== Windows x86 tests (Wine, 32-bit)"
if reason=$(wine_runs_32bit); then
  if wine_emulates_32bit; then how="under qemu-i386"; else how=natively; fi
  echo "32-bit programs run $how; running UPDATER_X86_TESTS=$x86_tests"
  wine_session_start "$here/build/windows-x86"
  if [ "$x86_tests" = all ]; then
    ctest --preset windows-x86-all -j2 || status=1
  else
    # From the subset's own folder: ctest then does not start every test
    # program to list its cases, which costs a minute each under emulation.
    ctest --test-dir "$here/build/windows-x86/testing/x86_core" --output-on-failure -j2 || status=1
  fi
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
