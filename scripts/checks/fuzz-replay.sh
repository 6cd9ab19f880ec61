#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz: clang, ASan + UBSan) and replays every
# saved input through its target: the seed corpus and each input that once
# crashed it. Fails when any input crashes or trips a sanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target unpack_fuzz signature_der_fuzz release_record_fuzz \
  patch_decoder_fuzz install_journal_fuzz >/dev/null
replay() {
  local target=$1 corpus=$2
  local inputs=("$corpus"/*)
  if ! output=$("$target" "${inputs[@]}" 2>&1); then
    echo "$output"
    echo "fuzz-replay: an input made $(basename "$target") fail" >&2
    exit 1
  fi
  echo "fuzz-replay: ${#inputs[@]} inputs replayed through $(basename "$target") without a fault"
}
replay "$here/build/fuzz/unzip/unpack_fuzz" "$here/unzip/fuzz_corpus"
replay "$here/build/fuzz/updater/download/signature_der_fuzz" \
  "$here/updater/download/signature_fuzz_corpus"
replay "$here/build/fuzz/updater/release/release_record_fuzz" "$here/updater/release/record_fuzz_corpus"
replay "$here/build/fuzz/updater/release/patch_decoder_fuzz" "$here/updater/release/patch_fuzz_corpus"
replay "$here/build/fuzz/updater/install/install_journal_fuzz" \
  "$here/updater/install/journal_fuzz_corpus"
