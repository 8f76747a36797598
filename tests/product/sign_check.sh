#!/bin/bash
# Signs setup.exe with Authenticode as a vendor does, with certificates made
# here (a root, and a code-signing certificate it issues), and checks the
# signed file: osslsigncode verifies it against that root; its signature lies
# after the archive; arq lists, tests and extracts the archive in it exactly
# as in setup.exe; and with one byte of a packed entry flipped the signature
# no longer verifies and arq's test fails on that entry. Leaves signed.exe
# and damaged.exe in OUT for the product tests, which run them under Wine
# (Install.SignedSetupInstallsAndRefusesAFlippedByte).
#   sign_check.sh ARQ SETUP.EXE OUT
set -u
arq=$(realpath "$1") setup=$(realpath "$2") out=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
rm -rf "$out"
mkdir -p "$out"
cd "$out" || exit 1

quiet() { "$@" >step.log 2>&1 || { echo "FAIL: $*"; cat step.log; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 \
  -subj "/CN=Telmura Test Root" -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
quiet openssl req -newkey rsa:2048 -nodes -keyout vendor.key -out vendor.csr -subj "/O=Vornak/CN=Vornak Test Signing"
printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' >vendor.ext
quiet openssl x509 -req -in vendor.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 -extfile vendor.ext \
  -out vendor.pem
quiet osslsigncode sign -certs vendor.pem -key vendor.key -n "Vornak Telmura" -i https://www.vornak.example/ \
  -in "$setup" -out signed.exe

verified=$(osslsigncode verify -CAfile root.pem signed.exe 2>&1) || fail "osslsigncode verify: $verified"
grep -q "^Signature verification: ok" <<<"$verified" || fail "the signature is not verified: $verified"
# Signing rewrites the PE header's checksum and certificate table entry,
# and appends the signature after the archive.
[ "$(stat -c %s signed.exe)" -gt "$(stat -c %s "$setup")" ] || fail "nothing was appended after the archive"
for verb in l t; do
  [ "$("$arq" $verb signed.exe 2>&1)" = "$("$arq" $verb "$setup" 2>&1)" ] || fail "arq $verb reads signed.exe otherwise"
done
mkdir plain signed
"$arq" x -C plain "$setup" >/dev/null || fail "arq x $setup"
"$arq" x -C signed signed.exe >/dev/null || fail "arq x signed.exe"
diff -r plain signed >/dev/null || fail "arq x extracts other files from signed.exe"
[ "$(ls signed | wc -l)" = 5 ] || fail "arq x extracted $(ls signed)"

# One byte of DRAVELON.SYS's packed data: its name follows its length (12,
# 0), its data the 33-byte body of the header.
name=$(LC_ALL=C grep -obUaP '\x0c\x00DRAVELON\.SYS' signed.exe | head -n1 | cut -d: -f1)
at=$((name + 2 + 12 + 33 + 100))
byte=$(od -An -tu1 -j "$at" -N1 signed.exe | tr -d ' ')
cp signed.exe damaged.exe
printf "\\$(printf %o $((byte ^ 1)))" | dd of=damaged.exe bs=1 seek="$at" conv=notrunc status=none
[ "$(cmp -l signed.exe damaged.exe | wc -l)" = 1 ] || fail "not one byte flipped"
refused=$(osslsigncode verify -CAfile root.pem damaged.exe 2>&1) && fail "the damaged file verifies"
grep -q "MISMATCH" <<<"$refused" || fail "the damaged file is not refused for its digest: $refused"
tested=$("$arq" t damaged.exe 2>&1) && fail "arq t passes the damaged file"
grep -q "^DRAVELON.SYS  *FAILED" <<<"$tested" || fail "arq t: $tested"

[ $failures -eq 0 ] && echo "signing checks passed"
exit $((failures != 0))
