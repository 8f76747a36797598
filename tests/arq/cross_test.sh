#!/bin/bash
# Archives written by the host arq are read by arq.exe under Wine, and the
# other way round:
#   cross_test.sh WINDOWS_ARQ HOST_ARQ WINE_RUN WINEPREFIX WORK_DIR
set -eu
win_arq=$1 host_arq=$2 wine_run=$3 prefix=$4 work=$5
own_prefix=$(cd "$(dirname "$0")/../e2e" && pwd)/own-prefix.sh
rm -rf "$work"
mkdir -p "$work"
cd "$work"

corpus=/usr/lib/i386-linux-gnu/wine/i386-windows
cp "$corpus/notepad.exe" notepad.exe
cp "$corpus/comctl32.dll" comctl32.dll
cp "$corpus/clock.exe" stub.exe
cp /usr/share/common-licenses/GPL-2 gpl.txt
: > empty.dat
files="notepad.exe comctl32.dll gpl.txt empty.dat"

winarq() { "$wine_run" "$prefix" "$win_arq" "$@"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
same_files() {  # DIR [upper]: each sample file came back unchanged (names upper-cased)
    for f in $files; do
        name=$f
        [ "${2:-}" = upper ] && name=$(echo "$f" | tr a-z A-Z)
        cmp "$f" "$1/$name" || fail "$1/$name differs"
    done
}

# Host writes, Windows reads: the host keeps the names' case, and so do
# readers of its entries.
"$host_arq" a host.arq $files
winarq t host.arq > /dev/null || fail "arq.exe t host.arq"
winarq x host.arq -C fromhost || fail "arq.exe x host.arq"
same_files fromhost

# Windows writes, host reads: names read back upper-case.
winarq a win.arq $files || fail "arq.exe a win.arq"
"$host_arq" t win.arq > /dev/null || fail "arq t win.arq"
"$host_arq" x win.arq -C fromwin || fail "arq x win.arq"
same_files fromwin upper

# The packer is the same on both sides: the listings agree entry by entry
# (names but for their case, sizes, ratio, method, time and check value).
"$host_arq" l host.arq | tr a-z A-Z > host.list
winarq l win.arq | tr -d '\r' | tr a-z A-Z > win.list
diff host.list win.list || fail "listings differ"
# So is the near-optimal parse, whose choices are made in integer arithmetic.
"$host_arq" a --best hostbest.arq $files
winarq a --best winbest.arq $files || fail "arq.exe a --best winbest.arq"
"$host_arq" l hostbest.arq | tr a-z A-Z > hostbest.list
winarq l winbest.arq | tr -d '\r' | tr a-z A-Z > winbest.list
diff hostbest.list winbest.list || fail "listings of --best differ"

# A self-extracting file made on Windows opens on the host, and back.
winarq sfx stub.exe setup.exe gpl.txt empty.dat || fail "arq.exe sfx"
"$host_arq" x setup.exe -C sfxhost || fail "arq x setup.exe"
cmp gpl.txt sfxhost/GPL.TXT || fail "sfx entry differs"
"$host_arq" d setup.exe 'EMPTY.*' || fail "arq d setup.exe"
winarq t setup.exe > /dev/null || fail "arq.exe t setup.exe after host delete"
# The stub is kept as it was but for its headers, which gained the payload's
# section, and that section follows the archive the host rewrote.
headers=$((16#$(${OBJDUMP:-i686-w64-mingw32-objdump} -p stub.exe | awk '$1 == "SizeOfHeaders" { print $2 }')))
cmp -i "$headers" -n "$(($(stat -c %s stub.exe) - headers))" stub.exe setup.exe || fail "stub changed"
payload=$(${OBJDUMP:-i686-w64-mingw32-objdump} -h setup.exe | awk '$2 == ".payload" { print $3 }')
padding=$(($(stat -c %s setup.exe) - 4096 * (($(stat -c %s stub.exe) + 4095) / 4096) - 16#${payload:-0}))
[ "$padding" -ge 0 ] && [ "$padding" -lt 4096 ] || fail "the payload section does not cover the archive after arq d"

# A stub too large for the archive to be found behind it is refused.
if winarq sfx notepad.exe big.exe gpl.txt 2> big.err; then fail "arq.exe sfx accepted a stub of 454,000 bytes"; fi
[ ! -e big.exe ] || fail "arq.exe sfx left big.exe behind"

# On a Japanese system (code page 932, a prefix of its own) names are read a
# whole character at a time: カ and ニ differ only in their second bytes
# (0x4A, 0x6A), and the second byte of 表 is a backslash.
printf 1 > カ; printf 2 > ニ; printf 3 > 表.txt
LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 bash "$own_prefix" "$wine_run" "$prefix" \
    "$work/prefix-ja_JP" "$win_arq" a kana.arq カ ニ 表.txt || fail "arq.exe a kana.arq on a Japanese system"
"$host_arq" l kana.arq | LC_ALL=C grep -qF '\x95/.TXT' || fail "arq.exe cut 表.txt inside its character"
# So a description naming カ is not satisfied by ニ.
printf '[PRODUCT]\nMAKER = A\nPRODUCT = B\nVERSION = 1.0.0.0\n[FILE]\nENTRY = \x83\x4a\nFOLDER = TARGET\n' > kana.ini
LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 bash "$own_prefix" "$wine_run" "$prefix" \
    "$work/prefix-ja_JP" "$win_arq" sfx --product kana.ini stub.exe kana-setup.exe ニ 2> kana.err || true
grep -q "not among the files given" kana.err || fail "arq.exe took ニ for the カ its description names"

# A name holding a byte the code page maps to a C1 control (0x9D: OSC in
# code page 1252) is listed with an escape, as control characters are.
printf 4 > "$(printf 'osc\x9d')"
"$host_arq" a c1.arq "$(printf 'osc\x9d')"
winarq l c1.arq | LC_ALL=C grep -qiF 'osc\x9D' || fail "arq.exe listed a C1 control raw"

# A level of the destination swapped for a link to another folder after
# arq.exe checked it and before it made the level below: the wineserver of
# a prefix of its own holds each folder it is asked to make for 0.5 s, and
# the swap comes 0.2 s after the first one appears. Nothing reaches the
# link's target.
mkdir -p lv/a/b victim swap && printf 5 > lv/a/b/f
(cd lv && "$host_arq" a -p ../swap.arq a > /dev/null)
own=$work/prefix-held
( flock 9; rm -rf "$own"; cp -a "$prefix" "$own" ) 9>"$prefix.lock" || fail "cannot copy the prefix"
"$wine_run" "$own" cmd.exe /c exit 0 > /dev/null 2>&1  # starts the prefix's server
at=server-$(printf %x "$(stat -c %d "$own")")-$(printf %x "$(stat -c %i "$own")")
server=
for p in $(pgrep wineserver); do [ "$(basename "$(readlink /proc/$p/cwd)")" = "$at" ] && server=$p; done
[ -n "$server" ] || fail "no wineserver serves $own"
strace -p "$server" -f -qq -o /dev/null -e trace=mkdir,mkdirat -e inject=mkdir,mkdirat:delay_enter=500000 &
sleep 0.5
( for i in $(seq 2000); do [ -d swap/a ] && break; sleep 0.01; done
  sleep 0.2; mv swap/a swap/a.real && ln -s ../victim swap/a ) &
"$wine_run" "$own" "$win_arq" x swap.arq -C swap > /dev/null 2>&1 || true
WINEPREFIX=$own wineserver -k </dev/null >/dev/null 2>&1
wait
rm -rf "$own"
[ -z "$(ls -A victim)" ] || fail "arq.exe made $(cd victim && find . | tr '\n' ' ')in the link's target"

# A destination on a small file system of its own (mounted as root) is
# asked for its own free space, not the drive's: 100,000 bytes that do not
# pack are refused before anything is written.
mkdir -p small
if mount -t tmpfs -o size=64k tmpfs small 2>/dev/null; then
    head -c 100000 /dev/urandom > random.bin
    "$host_arq" a small.arq random.bin > /dev/null
    winarq x small.arq -C small > /dev/null 2> small.err && status=0 || status=$?
    umount small
    [ "$status" = 1 ] && grep -q 'small: not enough free disk space' small.err ||
        fail "arq.exe did not ask the destination's file system: $(cat small.err)"
else
    echo "skipped, no file system can be mounted here: a destination on a small file system"
fi

# A Linux tree: the host keeps names that differ in case alone and an empty
# folder; arq.exe, on a system that takes those names for one, extracts the
# first of them (names keep their case there too) and the folder, and says
# which it left out.
mkdir -p tree/empty && printf A > tree/Index.html && printf a > tree/index.html
"$host_arq" a tree.arq tree 2>/dev/null || fail "arq a tree.arq"
if winarq x tree.arq -C fromtree 2> tree.err; then fail "arq.exe x extracted two names Windows takes for one"; fi
grep -q "the same file as" tree.err || fail "arq.exe x tree.arq: $(cat tree.err)"
[ -d fromtree/tree/empty ] && [ "$(cat fromtree/tree/Index.html)" = A ] || fail "arq.exe x tree.arq: $(ls -R fromtree)"
# Paths are kept by default there too, and -j stores base names; a colon is
# a drive there, and the version is said.
winarq a winpaths.arq tree/index.html >/dev/null && winarq a -j winflat.arq tree/index.html >/dev/null ||
    fail "arq.exe a with and without -j"
"$host_arq" l winpaths.arq | grep -q "^TREE/INDEX.HTML " || fail "arq.exe a lost the path"
"$host_arq" l winflat.arq | grep -q "^INDEX.HTML " || fail "arq.exe a -j kept the path"
winarq --version | grep -q "^arq " || fail "arq.exe --version"

# Damage is reported by arq.exe as by arq: non-zero status, one line.
printf 'not an archive at all' > noise.arq
if winarq l noise.arq > /dev/null 2> noise.err; then fail "arq.exe l noise.arq succeeded"; fi
[ "$(tr -d '\r' < noise.err | wc -l)" = 1 ] || fail "arq.exe error is not one line: $(cat noise.err)"
echo "cross archives agree"
