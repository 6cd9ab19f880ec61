#!/usr/bin/env bash
# Benchmark of the extraction (not part of the tests): native `unpack extract`
# against Info-ZIP `unzip -o -q`, both into empty folders, on two archives
# built here in build/bench: ~200 MB in a few large compressible files, and
# 20000 small files. Prints the median wall time of RUNS runs of each, the
# ratio, and the peak resident memory of unpack. With BASELINE set to another
# build of unpack (an older version), that one is timed in the same runs too,
# so both versions meet the same load.
#
#   [BASELINE=path/to/unpack] scripts/bench-unpack.sh [RUNS]      (default 5)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
bench=$here/build/bench
mkdir -p "$bench"

cmake --preset release >/dev/null
cmake --build "$here/build/release" --target unpack >/dev/null
unpack=$here/build/release/tools/unpack/unpack

# Corpus (built once).
if [ ! -f "$bench/large.zip" ]; then
  echo "building large.zip ..."
  rm -rf "$bench/large" && mkdir -p "$bench/large"
  seq 1 9000000 >"$bench/large/numbers.txt"                          # ~68 MB text
  head -c 40000000 /dev/urandom | base64 >"$bench/large/base64.txt"  # ~54 MB
  # Real program and library bytes, 80 MB (the pipe ends early on purpose).
  { find /usr/lib /usr/bin -type f -size +100k 2>/dev/null | sort | head -n 2000 |
      xargs cat 2>/dev/null | head -c 80000000 >"$bench/large/binaries.bin"; } || true
  (cd "$bench/large" && zip -q -r "$bench/large.zip" .)
fi
if [ ! -f "$bench/small.zip" ]; then
  echo "building small.zip ..."
  rm -rf "$bench/small" && mkdir -p "$bench/small"
  python3 - "$bench/small" <<'PY'
import os, random, sys
random.seed(7)
root = sys.argv[1]
words = open("/usr/share/dict/words").read().split() if os.path.exists("/usr/share/dict/words") \
    else ["alpha", "beta", "gamma", "delta", "update", "archive", "entry", "folder"]
for i in range(20000):
    d = os.path.join(root, "d%03d" % (i % 200), "s%d" % (i % 3))
    os.makedirs(d, exist_ok=True)
    n = random.randint(20, 800)
    with open(os.path.join(d, "f%05d.txt" % i), "w") as f:
        f.write(" ".join(random.choice(words) for _ in range(n)))
PY
  (cd "$bench/small" && zip -q -r "$bench/small.zip" .)
fi

median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.3f", m}'; }

baseline=${BASELINE:-}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

printf "%-10s %8s %12s %12s %7s %12s" archive size "unzip (s)" "unpack (s)" ratio "unpack RSS"
[ -z "$baseline" ] || printf " %14s %7s" "baseline (s)" ratio
printf "\n"
# Every run writes into a folder of its own, and the folders are removed only
# after all runs of an archive: a file system that reuses inodes only a while
# after they were freed (ext4 without a journal) makes a run that follows a
# removal of 20000 files pay for walking past them, which would charge one
# tool for the other's cleanup. The order of the tools alternates from run to
# run.
time_unzip() {
  /usr/bin/time -f "%e" -o "$bench/t" unzip -o -q "$archive" -d "$1"
  cat "$bench/t" >>"$bench/$name.unzip.times"
}
time_unpack() {
  /usr/bin/time -f "%e %M" -o "$bench/t" "$unpack" extract "$archive" "$1" >/dev/null
  awk '{print $1}' "$bench/t" >>"$bench/$name.unpack.times"
  awk '{print $2}' "$bench/t" >>"$bench/$name.rss"
}
time_baseline() {
  [ -n "$baseline" ] || return 0
  /usr/bin/time -f "%e" -o "$bench/t" "$baseline" extract "$archive" "$1" >/dev/null
  cat "$bench/t" >>"$bench/$name.baseline.times"
}
for name in large small; do
  archive=$bench/$name.zip
  : >"$bench/$name.unzip.times"; : >"$bench/$name.unpack.times"; : >"$bench/$name.rss"
  : >"$bench/$name.baseline.times"
  rm -rf "$bench/out-$name" && mkdir -p "$bench/out-$name"
  for run in $(seq "$runs"); do
    tools=(unzip unpack baseline)
    [ $((run % 2)) -eq 0 ] && tools=(baseline unpack unzip)
    for tool in "${tools[@]}"; do
      out=$bench/out-$name/$tool-$run
      mkdir -p "$out" && sync
      "time_$tool" "$out"
    done
  done
  rm -rf "$bench/out-$name"
  u=$(median <"$bench/$name.unzip.times")
  p=$(median <"$bench/$name.unpack.times")
  rss=$(sort -n "$bench/$name.rss" | tail -n 1)
  printf "%-10s %7sM %12s %12s %7s %9s KiB" "$name" "$(($(stat -c %s "$archive") / 1048576))" \
    "$u" "$p" "$(ratio "$p" "$u")" "$rss"
  if [ -n "$baseline" ]; then
    b=$(median <"$bench/$name.baseline.times")
    printf " %14s %7s" "$b" "$(ratio "$b" "$u")"
  fi
  printf "\n"
done
echo "($runs runs each, alternating; medians of wall time; peak RSS is the largest of the runs)"
