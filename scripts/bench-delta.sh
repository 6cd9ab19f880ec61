#!/usr/bin/env bash
# Benchmark of small updates (not part of the tests): the size of a delta
# archive against the full archive of the same version, and the time to
# make each with the native unpack (release build).
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
printf "%-28s %12s %12s %7s %9s %9s %16s\n" "next version" "full (B)" "delta (B)" "ratio" \
  "make full" "make delta" "apply under Wine"
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
  # The time to apply each archive under Wine comes with the updater's side.
  awk -v l="$label" -v f="$full" -v d="$delta" -v t0="$t0" -v t1="$t1" -v t2="$t2" \
      'BEGIN {printf "%-28s %12d %12d %6.2f%% %8.1fs %8.1fs %16s\n", l, f, d, 100 * d / f,
              t1 - t0, t2 - t1, "(not yet)"}'
done
rm -rf "$work/check"
