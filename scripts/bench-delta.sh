#!/usr/bin/env bash
# Benchmark of small updates (not part of the tests): the size of a delta
# archive against the full archive of the same version, the time to make
# each with the native unpack (release build), and the time to apply each
# under Wine with the updater's own install (install_bench.exe, the Windows
# build: InstallArchive or InstallRelease, staging, flushes and commit), on a
# fresh copy of the old version, median of 3 runs. Then the memory of
# patching: the peak resident set of that process when a delta patches one
# 100 MiB file, against a run that patches nothing.
#
# The product (about 100 MB) is made of real files of this machine: the
# MinGW runtime DLLs, Wine's DLLs, toolchain executables, text (licenses
# and copyright files) and PNG images, plus app.exe, a 2 MB program
# compiled here. Two next versions:
#   (a) app.exe rebuilt after a one-line change in its source;
#   (b) (a), and 5% of the other files changed (a few hundred bytes in
#       scattered places of a binary, a line of a text), 3 added, 3 deleted.
# Each delta is checked by applying it to a copy of the old version
# (unpack apply) and comparing with the new one.
#
#   scripts/bench-delta.sh [FOLDER]   (default build/bench-delta)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$here/build/bench-delta}
mkdir -p "$work"

cmake --preset release >/dev/null
cmake --build "$here/build/release" --target unpack >/dev/null
unpack=$here/build/release/tools/unpack/unpack
cmake --preset windows >/dev/null
cmake --build "$here/build/windows" --target install_bench >/dev/null
install_bench=$here/build/windows/updater/install/install_bench.exe
# shellcheck source=wine-session.sh
. "$here/scripts/wine-session.sh"
wine_session_start "$here/build/windows"
trap wine_session_stop EXIT

# Applies archive $1 to a fresh copy of folder $2 (left in $work/apply) under
# Wine; appends the seconds to $work/seconds and the peak resident set (KiB)
# to $work/peak.
apply() {
  rm -rf "$work/apply" && cp -a "$2" "$work/apply" && sync
  /usr/bin/time -f %M -a -o "$work/peak" \
    "$WINE64" "$install_bench" staged "Z:$1" "Z:$work/apply" </dev/null | tr -d '\r' >>"$work/seconds"
}
median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.2f", m}'; }

# app.exe, twice: the second time with one more line in one function.
make_app() {
  python3 - "$work/app" <<'PY'
import sys, os
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
def source(extra):
    lines = ['#include <cstdio>', '#include <map>', '#include <sstream>', '#include <string>',
             '#include <vector>']
    for i in range(1400):
        lines += [f'std::string step{i}(const std::vector<int>& v, std::map<std::string, int>& m) {{',
                  f'  std::ostringstream out; int acc = {i * 7919 % 1000};',
                  '  for (size_t k = 0; k < v.size(); ++k) {',
                  f'    acc = acc * 31 + v[k] * {i % 13 + 1};',
                  f'    if (acc % {i % 17 + 2} == 0) m["key{i}_" + std::to_string(k)] = acc;',
                  '  }',
                  f'  out << "step {i}: " << acc << " entries " << m.size();']
        if extra and i == 700:
            lines.append('  out << " (checked)";')
        lines += ['  return out.str();', '}']
    lines.append('int main(int argc, char**) {')
    lines.append('  std::vector<int> v(argc * 10, 3); std::map<std::string, int> m; std::string all;')
    lines += [f'  all += step{i}(v, m);' for i in range(1400)]
    lines += ['  std::printf("%zu\\n", all.size());', '  return 0;', '}']
    return '\n'.join(lines) + '\n'
for name, extra in (('app1.cpp', False), ('app2.cpp', True)):
    open(os.path.join(out, name), 'w').write(source(extra))
PY
  local cxx=x86_64-w64-mingw32-g++-posix
  "$cxx" -O2 -static -s -o "$work/app/app1.exe" "$work/app/app1.cpp" &
  "$cxx" -O2 -static -s -o "$work/app/app2.exe" "$work/app/app2.cpp"
  wait
}
[ -f "$work/app/app2.exe" ] || make_app

# Version 1: about 100 MB of real files, chosen in a fixed order.
v1=$work/v1
if [ ! -f "$v1/app.exe" ]; then
  rm -rf "$v1" && mkdir -p "$v1/bin" "$v1/tools" "$v1/docs" "$v1/images"
  cp "$work/app/app1.exe" "$v1/app.exe"
  for f in /usr/lib/gcc/x86_64-w64-mingw32/12-posix/lib{gcc_s_seh-1,gomp-1,quadmath-0,atomic-1,ssp-0}.dll \
           /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll; do
    [ -f "$f" ] && cp "$f" "$v1/bin/"
  done
  total=0
  for f in $(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll | sort); do
    size=$(stat -c %s "$f")
    [ "$size" -gt 8000000 ] && continue
    [ $((total + size)) -gt 68000000 ] && break
    cp "$f" "$v1/bin/" && total=$((total + size))
  done
  for tool in addr2line ar as nm objcopy objdump ranlib readelf size strings strip windres; do
    cp -L "/usr/bin/x86_64-w64-mingw32-$tool" "$v1/tools/$tool.exe"
  done
  cp /usr/share/common-licenses/* "$v1/docs/" 2>/dev/null || true
  for f in $(ls /usr/share/doc/*/copyright | sort | head -n 400); do
    cp "$f" "$v1/docs/$(basename "$(dirname "$f")").txt"
  done
  n=0
  for f in $(find /usr/share/icons -name '*.png' -size +2k | sort | head -n 600); do
    cp "$f" "$v1/images/$n-$(basename "$f")"; n=$((n + 1))
  done
fi

# Version 2a: app.exe rebuilt. Version 2b: and 5% of the files changed.
v2a=$work/v2a v2b=$work/v2b
rm -rf "$v2a" "$v2b"
cp -a "$v1" "$v2a" && cp "$work/app/app2.exe" "$v2a/app.exe"
cp -a "$v2a" "$v2b"
python3 - "$v2b" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(2)
files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs if f != 'app.exe')
for path in random.sample(files, len(files) // 20):
    data = bytearray(open(path, 'rb').read())
    if path.endswith('.txt'):
        lines = data.split(b'\n')
        lines.insert(len(lines) // 2, b'This line is new in version 2.')
        data = bytearray(b'\n'.join(lines))
    else:
        for _ in range(10):  # a few hundred bytes in scattered places
            at = random.randrange(max(1, len(data) - 40))
            data[at:at + 30] = os.urandom(30)
    open(path, 'wb').write(bytes(data))
for path in random.sample(files, 3):
    os.remove(path)
for i in range(3):
    open(os.path.join(root, 'bin', f'added{i}.dll'), 'wb').write(os.urandom(50000) + b'\0' * 50000)
PY

seconds() { date +%s.%N; }
printf "product: %s files, %s bytes\n" "$(find "$v1" -type f | wc -l)" "$(du -sb "$v1" | cut -f1)"
printf "%-28s %12s %12s %7s %9s %9s %12s %12s\n" "next version" "full (B)" "delta (B)" "ratio" \
  "make full" "make delta" "apply full" "apply delta"
for case in a b; do
  v2=$work/v2$case
  t0=$(seconds); "$unpack" make "$v2" "$work/full-$case.zip" --version 2 >/dev/null
  t1=$(seconds); "$unpack" delta "$v1" "$v2" "$work/delta-$case.zip" --from 1 --to 2 >/dev/null
  t2=$(seconds)
  rm -rf "$work/check" && cp -a "$v1" "$work/check"
  "$unpack" apply "$work/delta-$case.zip" "$work/check" >/dev/null
  diff -r "$v2" "$work/check" >/dev/null || { echo "bench-delta: delta $case does not rebuild version 2" >&2; exit 1; }
  full=$(stat -c %s "$work/full-$case.zip") delta=$(stat -c %s "$work/delta-$case.zip")
  label=$([ $case = a ] && echo "(a) one binary rebuilt" || echo "(b) 5% changed, 3+3")
  for kind in full delta; do
    : >"$work/seconds"
    for _ in 1 2 3; do apply "$work/$kind-$case.zip" "$v1"; done
    median <"$work/seconds" >"$work/apply-$kind"
  done
  diff -r -x '~update.version' "$v2" "$work/apply" >/dev/null || { echo "bench-delta: the updater's delta $case does not rebuild version 2" >&2; exit 1; }
  awk -v l="$label" -v f="$full" -v d="$delta" -v t0="$t0" -v t1="$t1" -v t2="$t2" \
      -v af="$(cat "$work/apply-full")" -v ad="$(cat "$work/apply-delta")" \
      'BEGIN {printf "%-28s %12d %12d %6.2f%% %8.1fs %8.1fs %11.2fs %11.2fs\n", l, f, d, 100 * d / f,
              t1 - t0, t2 - t1, af, ad}'
done
rm -rf "$work/check"

# (c) Memory: one 100 MiB file (random bytes) with 30 changed places of 30
# bytes, patched under Wine, against a delta that only writes a small file.
mem=$work/memory
if [ ! -f "$mem/delta.zip" ]; then
  rm -rf "$mem" && mkdir -p "$mem/old" "$mem/new" "$mem/small-new"
  python3 - "$mem" <<'PY'
import random, sys
root = sys.argv[1]
r = random.Random(3)
data = bytearray(r.randbytes(100 << 20))
open(root + '/old/big.bin', 'wb').write(data)
for _ in range(30):
    at = r.randrange(len(data) - 30)
    data[at:at + 30] = r.randbytes(30)
open(root + '/new/big.bin', 'wb').write(data)
PY
  cp "$mem/old/big.bin" "$mem/small-new/big.bin"
  echo "small" >"$mem/small-new/small.txt"
  "$unpack" delta "$mem/old" "$mem/new" "$mem/delta.zip" --from 1 --to 2 >/dev/null
  "$unpack" delta "$mem/old" "$mem/small-new" "$mem/small.zip" --from 1 --to 2 >/dev/null
fi
for kind in small delta; do
  : >"$work/peak"
  for _ in 1 2 3; do apply "$mem/$kind.zip" "$mem/old"; done
  median <"$work/peak" >"$work/peak-$kind"
done
cmp -s "$mem/new/big.bin" "$work/apply/big.bin" || { echo "bench-delta: the 100 MiB file was not patched right" >&2; exit 1; }
rm -rf "$work/apply"
awk -v p="$(cat "$work/peak-delta")" -v b="$(cat "$work/peak-small")" -v s="$(stat -c %s "$mem/delta.zip")" \
  'BEGIN {printf "patching one 100 MiB file under Wine (a %d-byte delta): peak resident set %.1f MiB, %.1f MiB above a delta that patches nothing (%.1f MiB); bound: 2 x 100 + 16 = 216 MiB\n",
          s, p / 1024, (p - b) / 1024, b / 1024}'
