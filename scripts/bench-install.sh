#!/usr/bin/env bash
# Benchmark of an all-or-nothing update (not part of the tests): the time of
# staging every entry, flushing it and committing (InstallArchive) against
# the direct extraction the worker did before, on the corpus of
# scripts/bench-unpack.sh (built first when missing). Two cases per archive:
# into an empty folder, and over the files of an earlier copy. Prints medians
# of RUNS runs (alternating) and the ratio staged / direct.
#
#   [BASELINE=other/install_bench] [NAMES=small] scripts/bench-install.sh [--wine] [RUNS] [FOLDER]
#
# Natively the release build is timed; with --wine the Windows build's
# install_bench.exe runs under Wine, where the updater's own Win32 file calls
# do the work and FlushFileBuffers is a real fsync. RUNS defaults to 5,
# FOLDER (where the updates are written) to build/bench; a FOLDER in memory
# (/dev/shm) leaves the disk out of the measure, flushes included. BASELINE
# names another build of install_bench (of the same kind), whose staged
# update is timed in the same runs as a third column. NAMES picks archives
# of the corpus (default "large small").
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
wine=""
if [ "${1:-}" = --wine ]; then
  wine=1
  shift
fi
runs=${1:-5}
bench=$here/build/bench
out=${2:-$bench}/out-install
baseline=${BASELINE:-}
[ -f "$bench/large.zip" ] && [ -f "$bench/small.zip" ] || "$here/scripts/bench-unpack.sh" 1 >/dev/null

if [ -n "$wine" ]; then
  cmake --preset windows >/dev/null
  cmake --build "$here/build/windows" --target install_bench >/dev/null
  tool=$here/build/windows/updater/install/install_bench.exe
  # shellcheck source=wine-session.sh
  . "$here/scripts/wine-session.sh"
  wine_session_start "$here/build/windows"
  run() { "$WINE64" "$1" "$2" "Z:$3" "Z:$4" </dev/null; }
else
  cmake --preset release >/dev/null
  cmake --build "$here/build/release" --target install_bench >/dev/null
  tool=$here/build/release/updater/install/install_bench
  run() { "$@"; }
fi

median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.3f", m}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

modes="direct staged${baseline:+ baseline}"
printf "%-8s %-10s %11s %11s %7s" archive into "direct (s)" "staged (s)" ratio
[ -n "$baseline" ] && printf " %12s %7s" "baseline (s)" ratio
echo
rm -rf "$out"
for name in ${NAMES:-large small}; do
  archive=$bench/$name.zip
  for into in empty "old copy"; do
    for mode in $modes; do : >"$bench/$mode.times"; done
    for i in $(seq "$runs"); do
      for mode in $modes; do
        # A folder of its own, removed only after all runs: ext4 without a
        # journal walks past inodes freed a short while before, and a run
        # right after the removal of 20,000 files would pay for it.
        folder=$out/$name-${into// /-}-$i-$mode
        mkdir -p "$folder"
        if [ "$into" != empty ]; then run "$tool" direct "$archive" "$folder" >/dev/null; fi
        sync
        case $mode in
          baseline) run "$baseline" staged "$archive" "$folder" | tr -d '\r' >>"$bench/$mode.times" ;;
          *) run "$tool" "$mode" "$archive" "$folder" | tr -d '\r' >>"$bench/$mode.times" ;;
        esac
      done
    done
    d=$(median <"$bench/direct.times")
    s=$(median <"$bench/staged.times")
    printf "%-8s %-10s %11s %11s %7s" "$name" "$into" "$d" "$s" "$(ratio "$s" "$d")"
    if [ -n "$baseline" ]; then
      b=$(median <"$bench/baseline.times")
      printf " %12s %7s" "$b" "$(ratio "$b" "$d")"
    fi
    echo
  done
done
rm -rf "$out"
echo "($runs runs each; medians of wall time${wine:+, under Wine})"
