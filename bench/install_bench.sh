#!/bin/bash
# Installation benchmark (not a test): the test build of the installer
# installs a large payload of Wine's 32-bit DLLs under Wine, silent, into an
# empty directory and again over the installed copy (every file upgraded),
# and "arq.exe x" extracts the same archive in the same rounds: the floor no
# installer can beat. A small payload of as many files shows whether the
# installer's memory grows with the payload.
#   bench/install_bench.sh [BUILD-DIR] [ROUNDS]
# BUILD-DIR (default: build) must hold the host arq, the Windows arq.exe and
# the test installer (cmake --build BUILD-DIR). Everything runs in a 32-bit
# prefix of its own under BUILD-DIR/bench-install, removed at the end.
set -eu
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
rounds=${2:-5}
arq=$build/arq/arq
arqexe=$build/win32/arq/arq.exe
stub=$build/win32/tests/e2e/e2e_testsetup.exe
dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
for f in "$arq" "$arqexe" "$stub"; do
  [ -f "$f" ] || { echo "missing $f: build first" >&2; exit 1; }
done

work=$build/bench-install
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work"
mkdir -p "$work/large" "$work/small"
stop() { wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap 'stop; rm -rf "$work"' EXIT

# The large payload: every third of the DLLs up to 1.5 MB, ordered by size
# (a spread of sizes from 8 KB up). The small one: the same file names, each
# holding the first 6,500 bytes of its DLL.
ls -l "$dlls"/*.dll | awk '$5 <= 1500000 {print $5, $9}' | sort -n -k1,1 -k2,2 | awk 'NR % 3 == 0 {print $2}' \
  >"$work/files"
while read -r f; do
  cp "$f" "$work/large/"
  head -c 6500 "$f" >"$work/small/$(basename "$f")"
  touch -r "$f" "$work/small/$(basename "$f")"
done <"$work/files"
count=$(wc -l <"$work/files")
bytes() { du -cb "$1"/*.dll | tail -1 | cut -f1; }
"$arq" sfx "$stub" "$work/large.exe" "$work"/large/*.dll
"$arq" sfx "$stub" "$work/small.exe" "$work"/small/*.dll
cp "$arqexe" "$work/arq.exe"

echo "preparing the prefix..." >&2
tests/wine-run "$WINEPREFIX" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\large.exe' /v Version /t REG_SZ /d winxp /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\small.exe' /v Version /t REG_SZ /d winxp /f >/dev/null 2>&1
c=$WINEPREFIX/drive_c
win() { echo "Z:${1//\//\\}"; }

now() { date +%s.%N; }
seconds() { awk -v from="$1" -v to="$2" 'BEGIN {printf "%.3f", to - from}'; }
# install PAYLOAD TARGET: one silent run; prints its seconds, and leaves its
# memory and pass figures in $work/figures.
install() {
  local start end
  start=$(now)
  E2E_CONTEXT=archive E2E_TARGET="C:\\bench\\$2\\" E2E_FIGURES='C:\bench\figures.txt' \
    wine "$(win "$work/$1.exe")" /silent </dev/null >/dev/null 2>&1 || true
  end=$(now)
  tr -d '\r' <"$c/bench/figures.txt" >"$work/figures"
  seconds "$start" "$end"
}
# extract PAYLOAD TARGET: arq.exe x of the installer's archive, its output
# into a file (a console costs Wine calls for every progress line).
extract() {
  local start end
  start=$(now)
  wine "$(win "$work/arq.exe")" x "$(win "$work/$1.exe")" -C "C:\\bench\\$2" </dev/null >"$work/arq.out" 2>&1
  end=$(now)
  seconds "$start" "$end"
}
fresh() { rm -rf "$c/bench/$1"; mkdir -p "$c/bench/$1"; }
# Installed files older than the packed ones: each is upgraded.
age() { find "$c/bench/$1" -type f -exec touch -d "2000-01-01 12:00:00 UTC" {} +; }
check() {  # every file in place with its bytes (entry names are upper case)
  local f name
  for f in "$work/$1"/*.dll; do
    name=$(basename "$f")
    name=${name^^}
    cmp -s "$f" "$c/bench/$2/$name" || { echo "$2: $name wrong after install" >&2; exit 1; }
  done
}
field() { sed -n "s/.*$1=\([0-9]*\).*/\1/p" "$work/figures"; }

mkdir -p "$c/bench"
results=$work/results
: >"$results"
# record NAME VALUE: one figure of a counted round.
record() { [ "$round" -gt 0 ] && echo "$1 $2" >>"$results" || true; }
passes() {  # the pass times of the last run, in seconds
  local pass
  for pass in extract decide install; do
    record "$1.$pass" "$(seconds 0 "$(field $pass)e-3")"
  done
}
for round in $(seq 0 "$rounds"); do  # round 0 warms the caches and is not counted
  fresh inst
  record fresh "$(install large inst)"
  check large inst
  passes fresh
  record peak.large "$(field peak)"
  age inst
  record upgrade "$(install large inst)"
  check large inst
  passes upgrade
  n_bak=$(ls "$c/bench/inst"/*.BAK 2>/dev/null | wc -l)
  [ "$n_bak" -eq "$count" ] || { echo "upgrade backed up $n_bak of $count files" >&2; exit 1; }
  fresh floor
  record floor "$(extract large floor)"
  check large floor
  fresh small
  record small "$(install small small)"
  check small small
  passes small
  record peak.small "$(field peak)"
  fresh floor
  record floor.small "$(extract small floor)"
  check small floor
  echo "round $round done" >&2
done

echo "payload: $count files, large $(bytes "$work/large") bytes, small $(bytes "$work/small") bytes;" \
     "installer with the large archive $(stat -c %s "$work/large.exe") bytes"
awk '
  { if (!($1 in n)) order[++names] = $1; n[$1]++; sum[$1] += $2; sq[$1] += $2 * $2 }
  END {
    for (k = 1; k <= names; k++) {
      name = order[k]; mean[name] = sum[name] / n[name]
      sd = sq[name] / n[name] - mean[name] * mean[name]
      printf "%-16s mean %12.3f  sd %10.3f  (%d runs)\n", name, mean[name], sqrt(sd > 0 ? sd : 0), n[name]
    }
    printf "ratio fresh / floor %.2f, upgrade / floor %.2f, small / floor.small %.2f\n",
           mean["fresh"] / mean["floor"], mean["upgrade"] / mean["floor"], mean["small"] / mean["floor.small"]
    # Same files, other sizes: the differences split the time into what the
    # bytes cost and what the files cost.
    printf "the bytes (large - small): install %.3f s, arq x %.3f s, ratio %.2f\n",
           mean["fresh"] - mean["small"], mean["floor"] - mean["floor.small"],
           (mean["fresh"] - mean["small"]) / (mean["floor"] - mean["floor.small"])
    printf "the files (small payload): install - arq x = %.3f s, %.2f ms a file\n",
           mean["small"] - mean["floor.small"], (mean["small"] - mean["floor.small"]) * 1000 / count
  }' count="$count" "$results"
