#!/usr/bin/env bash
# Builds the zip layer's fuzz target (preset fuzz: clang, ASan + UBSan) and
# replays every saved input through it: the seed corpus and each input that
# once crashed it. Fails when any input crashes or trips a sanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target unpack_fuzz >/dev/null
inputs=("$here"/unzip/fuzz_corpus/*)
if ! output=$("$here/build/fuzz/unzip/unpack_fuzz" "${inputs[@]}" 2>&1); then
  echo "$output"
  echo "fuzz-replay: an input made the fuzz target fail" >&2
  exit 1
fi
echo "fuzz-replay: ${#inputs[@]} inputs replayed without a fault"
