#!/usr/bin/env bash
# unpack sign and unpack verify against stock OpenSSL: each tool's signature
# verifies with the other, and a flipped archive byte, another key's
# signature, a truncated, a garbage and a missing signature each give 1.
#
# Usage: signature_commands_test.sh UNPACK [RUNNER]
# With a RUNNER (the Wine loader for unpack.exe, which only verifies) the
# signatures all come from openssl and sign must refuse.
set -u
unpack=$1
runner=${2:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 2

openssl ecparam -name prime256v1 -genkey -noout -out publisher.pem
openssl ec -in publisher.pem -pubout -out publisher.pub.pem 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out other.pem
head -c 300000 /dev/urandom >update.zip
python3 -c 'import sys; b=bytearray(open("update.zip","rb").read()); b[150000]^=1; open("flipped.zip","wb").write(b)'
openssl dgst -sha256 -sign publisher.pem -out update.zip.sig update.zip
openssl dgst -sha256 -sign other.pem -out other.sig update.zip
head -c 40 update.zip.sig >truncated.sig
head -c 71 /dev/urandom >garbage.sig

failures=0
# expect STATUS TEXT COMMAND...: the exit status, and TEXT in the output.
expect() {
  local want=$1 text=$2
  shift 2
  $runner "$@" >out.txt 2>&1 </dev/null
  local got=$?
  if [ "$got" -ne "$want" ] || ! grep -q -- "$text" out.txt; then
    echo "FAIL: $* exited $got (expected $want, saying \"$text\"):"
    cat out.txt
    failures=$((failures + 1))
  fi
}
verify() { expect "$1" "$2" "$unpack" verify --key publisher.pub.pem "${@:3}"; }

verify 0 "good signature" update.zip
verify 1 "bad signature" flipped.zip update.zip.sig
verify 1 "bad signature" update.zip other.sig
verify 1 "bad signature" update.zip truncated.sig
verify 1 "bad signature" update.zip garbage.sig
verify 1 "no signature" update.zip missing.sig
verify 2 "usage" update.zip update.zip.sig extra
expect 2 "key" "$unpack" verify --key publisher.pem update.zip
expect 2 "archive" "$unpack" verify --key publisher.pub.pem missing.zip update.zip.sig

if [ -z "$runner" ]; then
  expect 0 "signed" "$unpack" sign --key publisher.pem update.zip mine.sig
  if ! openssl dgst -sha256 -verify publisher.pub.pem -signature mine.sig update.zip >/dev/null; then
    echo "FAIL: openssl dgst -verify refuses the signature of unpack sign"
    failures=$((failures + 1))
  fi
  rm -f update.zip.sig
  expect 0 "signed" "$unpack" sign --key publisher.pem update.zip
  verify 0 "good signature" update.zip
  expect 2 "key" "$unpack" sign --key publisher.pub.pem update.zip
else
  expect 2 "only verifies" "$unpack" sign --key publisher.pem update.zip
fi

[ "$failures" -eq 0 ] && echo "signature commands: all cases passed"
exit $((failures > 0))
