#!/usr/bin/env bash
# Benchmark of an all-or-nothing update (not part of the tests): the time of
# staging every entry and committing (InstallArchive) against the direct
# extraction the worker did before, natively in the release build, on the
# corpus of scripts/bench-unpack.sh (built first when missing). Two cases per
# archive: into an empty folder, and over the files of an earlier copy.
# Prints medians of RUNS runs (alternating) and the ratio staged / direct.
#
#   scripts/bench-install.sh [RUNS] [FOLDER]   (default 5 runs, in build/bench)
#
# FOLDER is where the updates are written, for example /dev/shm to leave the
# disk (and other jobs' I/O on it) out of the measure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
bench=$here/build/bench
out=${2:-$bench}/out-install
[ -f "$bench/large.zip" ] && [ -f "$bench/small.zip" ] || "$here/scripts/bench-unpack.sh" 1 >/dev/null

cmake --preset release >/dev/null
cmake --build "$here/build/release" --target install_bench unpack >/dev/null
tool=$here/build/release/updater/install/install_bench

median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.3f", m}'; }

printf "%-10s %-12s %11s %11s %7s\n" archive into "direct (s)" "staged (s)" ratio
for name in large small; do
  archive=$bench/$name.zip
  for into in empty "old copy"; do
    : >"$bench/direct.times"; : >"$bench/staged.times"
    for _ in $(seq "$runs"); do
      for mode in direct staged; do
        rm -rf "$out" && mkdir -p "$out"
        if [ "$into" != empty ]; then "$tool" direct "$archive" "$out" >/dev/null; fi
        sync
        "$tool" "$mode" "$archive" "$out" >>"$bench/$mode.times"
      done
    done
    rm -rf "$out"
    d=$(median <"$bench/direct.times")
    s=$(median <"$bench/staged.times")
    printf "%-10s %-12s %11s %11s %7s\n" "$name" "$into" "$d" "$s" \
      "$(awk -v a="$s" -v b="$d" 'BEGIN {printf "%.2f", a / b}')"
  done
done
echo "($runs runs each; medians of wall time)"
