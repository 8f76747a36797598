#!/bin/bash
# Installation benchmark (not a test): the test build of the installer
# installs a large payload of Wine's 32-bit DLLs under Wine, silent, into an
# empty directory and again over the installed copy (every file upgraded);
# in the same rounds, alternating, an NSIS installer of the same files
# (makensis, its default compression) installs them silently into an empty
# directory of the same prefix, and "arq.exe x" extracts our archive: the
# floor no installer can beat. A small payload of as many files shows the
# cost per file and whether the installer's memory grows with the payload.
# Every file of every run is compared with the payload byte for byte.
#   bench/install_bench.sh [BUILD-DIR] [ROUNDS] [BEFORE-BUILD-DIR]
# BUILD-DIR (default: build) must hold the host arq, the Windows arq.exe and
# the test installer (cmake --build BUILD-DIR). BEFORE-BUILD-DIR, when given,
# is another build (of an earlier commit) whose test installer installs the
# same archives too, fresh, over the installed copy and the small payload, in
# the same rounds: a before-and-after on one machine at one time (its
# figures are named "before."). makensis is installed (apt)
# when missing: the benchmark needs it, the product and its tests do not.
# Everything runs in a 32-bit prefix of its own under BUILD-DIR/bench-install,
# removed at the end.
set -eu
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
rounds=${2:-5}
before=${3:+$(realpath "$3")/win32/tests/e2e/e2e_testsetup.exe}
. bench/bench_common.sh
bench_tools "$build"
if [ -n "$before" ]; then
  for f in "$before" "$(realpath "$3")/win32/arq/arq.exe"; do
    [ -f "$f" ] || { echo "missing $f: build it first" >&2; exit 1; }
  done
fi

work=$build/bench-install
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work"
mkdir -p "$work/large" "$work/small"
stop() { wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap 'stop; rm -rf "$work"' EXIT

# The large payload (bench/corpus.sh). The small one: the same file names,
# each holding the first 6,500 bytes of its DLL.
bench/corpus.sh >"$work/files"
while read -r f; do
  cp "$f" "$work/large/"
  head -c 6500 "$f" >"$work/small/$(basename "$f")"
  touch -r "$f" "$work/small/$(basename "$f")"
done <"$work/files"
count=$(wc -l <"$work/files")
bytes() { du -cb "$1"/*.dll | tail -1 | cut -f1; }
"$arq" sfx -j "$stub" "$work/large.exe" "$work"/large/*.dll
"$arq" sfx -j "$stub" "$work/small.exe" "$work"/small/*.dll
"$arq" sfx -j --best "$stub" "$work/best.exe" "$work"/large/*.dll
if [ -n "$before" ]; then
  cp "$(realpath "$3")/win32/arq/arq.exe" "$work/before-arq.exe"
  "$arq" sfx -j "$before" "$work/before-large.exe" "$work"/large/*.dll
  "$arq" sfx -j "$before" "$work/before-small.exe" "$work"/small/*.dll
fi
cp "$arqexe" "$work/arq.exe"
nsis_installer "$work/nsis-large.exe" "$work"/large/*.dll
nsis_installer "$work/nsis-small.exe" "$work"/small/*.dll
nsis_installer "$work/nsis-empty.exe"

bench_prefix large.exe small.exe best.exe nsis-large.exe nsis-small.exe before-large.exe before-small.exe
c=$WINEPREFIX/drive_c

now() { date +%s.%N; }
seconds() { awk -v from="$1" -v to="$2" 'BEGIN {printf "%.3f", to - from}'; }
# install INSTALLER TARGET: one silent run of our installer; prints its
# seconds, and leaves its memory and pass figures in $work/figures.
install() {
  local start end
  start=$(now)
  E2E_CONTEXT=archive E2E_TARGET="C:\\bench\\$2\\" E2E_FIGURES='C:\bench\figures.txt' \
    wine "$(win "$work/$1.exe")" /silent </dev/null >/dev/null 2>&1 || true
  end=$(now)
  tr -d '\r' <"$c/bench/figures.txt" >"$work/figures"
  seconds "$start" "$end"
}
# nsis_install PAYLOAD TARGET: the NSIS installer of the payload, silent.
nsis_install() {
  local start end
  start=$(now)
  wine "$(win "$work/nsis-$1.exe")" /S "/D=C:\\bench\\$2" </dev/null >/dev/null 2>&1
  end=$(now)
  seconds "$start" "$end"
}
# extract PAYLOAD TARGET [ARQ]: arq.exe (or ARQ.exe) x of the installer's
# archive, its output into a file (a console costs Wine calls for every
# progress line).
extract() {
  local start end
  start=$(now)
  wine "$(win "$work/${3:-arq}.exe")" x "$(win "$work/$1.exe")" -C "C:\\bench\\$2" </dev/null >"$work/arq.out" 2>&1
  end=$(now)
  seconds "$start" "$end"
}
fresh() { rm -rf "$c/bench/$1"; mkdir -p "$c/bench/$1"; }
# Installed files older than the packed ones: each is upgraded.
age() { find "$c/bench/$1" -type f -exec touch -d "2000-01-01 12:00:00 UTC" {} +; }
# check PAYLOAD TARGET [same]: every file in place with its bytes (our
# entry names are upper case; NSIS keeps the names' case: "same").
check() {
  local f name
  for f in "$work/$1"/*.dll; do
    name=$(basename "$f")
    [ "${3:-}" = same ] || name=${name^^}
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
  fresh nsis
  record nsis "$(nsis_install large nsis)"
  check large nsis same
  age inst
  record upgrade "$(install large inst)"
  check large inst
  passes upgrade
  n_bak=$(ls "$c/bench/inst"/*.BAK 2>/dev/null | wc -l)
  [ "$n_bak" -eq "$count" ] || { echo "upgrade backed up $n_bak of $count files" >&2; exit 1; }
  fresh floor
  record floor "$(extract large floor)"
  check large floor
  fresh best
  record fresh.best "$(install best best)"
  check large best
  if [ -n "$before" ]; then
    fresh prev
    record before.fresh "$(install before-large prev)"
    check large prev
    passes before.fresh
    age prev
    record before.upgrade "$(install before-large prev)"
    check large prev
    passes before.upgrade
    fresh prev
    record before.small "$(install before-small prev)"
    check small prev
    fresh prev
    record before.floor "$(extract large prev before-arq)"
    check large prev
    fresh prev
    record before.floor.small "$(extract small prev before-arq)"
    check small prev
  fi
  fresh small
  record small "$(install small small)"
  check small small
  passes small
  record peak.small "$(field peak)"
  fresh nsis
  record nsis.small "$(nsis_install small nsis)"
  check small nsis same
  fresh floor
  record floor.small "$(extract small floor)"
  check small floor
  echo "round $round done" >&2
done

size() { stat -c %s "$1"; }
ours=$(( $(size "$work/large.exe") - $(size "$stub") ))
best=$(( $(size "$work/best.exe") - $(size "$stub") ))
theirs=$(( $(size "$work/nsis-large.exe") - $(size "$work/nsis-empty.exe") ))
echo "payload: $count files, large $(bytes "$work/large") bytes, small $(bytes "$work/small") bytes"
echo "installers: ours $(size "$work/large.exe") bytes (archive $ours), with --best $(size "$work/best.exe")" \
     "(archive $best); NSIS $(size "$work/nsis-large.exe") bytes (data $theirs, its stub $(size "$work/nsis-empty.exe"))"
awk -v ours="$ours" -v best="$best" -v theirs="$theirs" \
    'BEGIN {printf "archive / NSIS data: default %.4f, --best %.4f\n", ours / theirs, best / theirs}'
awk '
  function median(name,   m, i, j, t, v) {
    m = n[name]
    for (i = 1; i <= m; i++) v[i] = value[name, i]
    for (i = 2; i <= m; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
  }
  { if (!($1 in n)) order[++names] = $1; n[$1]++; value[$1, n[$1]] = $2; sum[$1] += $2; sq[$1] += $2 * $2 }
  END {
    for (k = 1; k <= names; k++) {
      name = order[k]; mean[name] = sum[name] / n[name]; med[name] = median(name)
      sd = sq[name] / n[name] - mean[name] * mean[name]
      printf "%-16s mean %12.3f  sd %10.3f  median %12.3f  (%d runs)\n", name, mean[name], sqrt(sd > 0 ? sd : 0),
             med[name], n[name]
    }
    printf "ratios of the medians: fresh / NSIS %.2f (target 0.9), fresh / arq x %.2f (target 1.3),\n",
           med["fresh"] / med["nsis"], med["fresh"] / med["floor"]
    printf "  upgrade / NSIS fresh %.2f (target 1.3), --best fresh / fresh %.2f, small / arq x small %.2f\n",
           med["upgrade"] / med["nsis"], med["fresh.best"] / med["fresh"], med["small"] / med["floor.small"]
    # Same files, other sizes: the differences split the time into what the
    # bytes cost and what the files cost.
    printf "the bytes (large - small): install %.3f s, NSIS %.3f s, arq x %.3f s\n",
           med["fresh"] - med["small"], med["nsis"] - med["nsis.small"], med["floor"] - med["floor.small"]
    printf "the files (small payload, a file): install - arq x %.2f ms, NSIS - arq x %.2f ms\n",
           (med["small"] - med["floor.small"]) * 1000 / count, (med["nsis.small"] - med["floor.small"]) * 1000 / count
    printf "peak private bytes: large %d, small %d\n", med["peak.large"], med["peak.small"]
    if ("before.fresh" in med) {
      printf "before: fresh / NSIS %.2f, fresh / its arq x %.2f, upgrade / NSIS fresh %.2f,\n",
             med["before.fresh"] / med["nsis"], med["before.fresh"] / med["before.floor"],
             med["before.upgrade"] / med["nsis"]
      printf "  the files (small payload, a file): install - its arq x %.2f ms\n",
             (med["before.small"] - med["before.floor.small"]) * 1000 / count
    }
  }' count="$count" "$results"
