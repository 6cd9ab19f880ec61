#!/usr/bin/env bash
# updater.exe over HTTPS against local TLS servers (testing/tls_server.py)
# with certificates for "localhost" made here by openssl: one signed by a
# test CA that the Wine prefix is made to trust for the length of the test
# (trust_test_root.exe; never the machine's own bundle), one by a CA it
# does not know. The first update succeeds; the second is refused with
# exit code 2, nothing written, and a log that says the certificate is not
# trusted. Once the test CA is removed, the first server is refused too.
#
# Usage: https_update_test.sh UPDATER_EXE TRUST_TEST_ROOT_EXE MARKER_TARGET_EXE WINE
set -u
updater=$1 trust=$2 marker=$3
shift 3
wine=("$@")
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mktemp -d)
servers=()
trusted=""
cleanup() {
  [ -n "$trusted" ] && "${wine[@]}" "$trust" remove "$(winepath "$trusted")" </dev/null >/dev/null 2>&1
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
winepath() { echo "Z:${1//\//\\}"; }
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
cd "$dir" || exit 2

# ca NAME: a certificate authority; server NAME CA: a certificate for
# localhost signed by it.
ca() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -keyout "$1.key" -out "$1.pem" -subj "/CN=Updater test CA $1" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    2>/dev/null
}
server() {
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$1.key" \
    -out "$1.csr" -subj "/CN=localhost" 2>/dev/null
  printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
ca trusted_ca && ca unknown_ca && server good trusted_ca && server foreign unknown_ca ||
  { echo "FAIL: openssl could not make the certificates"; exit 1; }

mkdir files
python3 - <<'EOF'
import os, zipfile
with zipfile.ZipFile("files/update.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("readme.txt", "hello over https\n")
    z.writestr("data/payload.bin", os.urandom(300000))
EOF

# serve NAME: starts a TLS server with NAME's certificate; port_of NAME PID
# waits until it listens and prints its port.
serve() {
  python3 "$here/testing/tls_server.py" "$1.pem" "$1.key" files >"$1.out" 2>"$1.err" &
  servers+=($!)
}
port_of() {
  local deadline=$((SECONDS + 30))
  while ! grep -q '^port ' "$1.out" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] && kill -0 "$2" 2>/dev/null || return 1
    sleep 0.05
  done
  sed -n 's/^port //p' "$1.out"
}
serve good
serve foreign
good_port=$(port_of good "${servers[0]}") && foreign_port=$(port_of foreign "${servers[1]}") ||
  { echo "FAIL: the TLS servers did not start"; cat ./*.err; exit 1; }

"${wine[@]}" "$trust" add "$(winepath "$dir/trusted_ca.pem")" </dev/null || fail "trust_test_root add"
trusted="$dir/trusted_ca.pem"

# update NAME PORT: runs a copy of the updater in app-NAME with -silent and
# -log against https://localhost:PORT/update.zip; prints its exit code.
update() {
  mkdir -p "app-$1/target dir"
  cp "$updater" "app-$1/updater.exe" && cp "$marker" "app-$1/target dir/"
  "${wine[@]}" "app-$1/updater.exe" -url "https://localhost:$2/update.zip" \
    -dest "$(winepath "$dir/app-$1/target dir/marker_target.exe")" -silent \
    -log "$(winepath "$dir/$1.log")" </dev/null >/dev/null 2>&1
  echo $?
}

code=$(update good "$good_port")
[ "$code" = 0 ] || fail "the update from the trusted server exited $code"
[ "$(cat app-good/readme.txt 2>/dev/null)" = "hello over https" ] || fail "readme.txt not written"
python3 -c 'import sys, zipfile
sys.exit(zipfile.ZipFile("files/update.zip").read("data/payload.bin")
         != open("app-good/data/payload.bin", "rb").read())' 2>/dev/null ||
  fail "data/payload.bin is not the archive's"

code=$(update foreign "$foreign_port")
[ "$code" = 2 ] || fail "the update from the untrusted server exited $code, not 2"
leftover=$(cd app-foreign && ls -A | grep -v -x -e updater.exe -e 'target dir')
[ -z "$leftover" ] || fail "the refused update left: $leftover"
grep -q "message (not shown): Download failed.  Error = 0x[0-9A-F]\{8\}  The server's certificate is not trusted" foreign.log ||
  fail "the log does not say that the certificate is not trusted"

# Taken out again, the test CA is no longer trusted.
"${wine[@]}" "$trust" remove "$(winepath "$trusted")" </dev/null || fail "trust_test_root remove"
trusted=""
code=$(update after "$good_port")
[ "$code" = 2 ] || fail "after the CA was removed, the update exited $code, not 2"

for log in good foreign; do
  echo "--- $log.log"
  cat "$log.log"
done
[ $failures -eq 0 ] && echo "https updates: trusted server updated, untrusted one refused"
exit $((failures > 0))
