#!/bin/bash
# Checks the archive behind setup.exe with the host's arq: every entry's
# check value, the five entries in their order with the fixed times of the
# release, and the registry script extracted byte for byte as packed.
#   payload_check.sh ARQ SETUP.EXE TLMRINST.INF SCRATCH-DIR
set -u
arq=$1 setup=$2 inf=$3 scratch=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

tested=$("$arq" t "$setup") || fail "arq t failed: $tested"
grep -q "^5 entries tested, all sound" <<<"$tested" || fail "arq t: $tested"

listed=$("$arq" l "$setup") || fail "arq l failed"
entries=$(awk 'NR > 1 && $1 != "Total" { print $1, $5, $6, $7 }' <<<"$listed")
expected="DRAVELON.SYS packed 2002-05-17 08:16:26
DRAVELON.VXD packed 2002-05-17 08:15:14
DRAVELON_XP.SYS packed 2002-05-17 08:06:40
TLMRINST.INF packed 1998-02-20 01:26:04
TLMRUNIN.EXE packed 2002-05-17 08:18:40"
[ "$entries" = "$expected" ] || fail "arq l lists:
$listed"

rm -rf "$scratch"
mkdir -p "$scratch"
"$arq" x "$setup" TLMRINST.INF -C "$scratch" >/dev/null || fail "arq x TLMRINST.INF failed"
cmp "$inf" "$scratch/TLMRINST.INF" || fail "the packed registry script differs from $inf"
[ "$(stat -c %s "$inf")" = 557 ] || fail "the registry script is not the 557 bytes of the worked example"

[ $failures -eq 0 ] && { echo "payload checks passed"; rm -rf "$scratch"; }
exit $((failures != 0))
