#!/bin/bash
# Stages the payloads of the test installer and packs each behind a copy of
# it with "arq sfx":
#   make_payloads.sh ARQ STUB PE-DIR OUT-DIR
# PE-DIR holds the versioned images v1.dll, v1b.dll, v1c.dll (1.0.0.0 with
# other descriptions, so other bytes), v2.dll and v3.dll. Each payload set
# becomes OUT-DIR/SET/ (the files as packed, read back by the tests) and
# OUT-DIR/e2e_SET.exe. Every file gets a fixed time stamp, so the time-stamp
# rule sees the dates given here and not those of the build.
set -eu
arq=$1 stub=$2 pe=$3 out=$4

# put SET NAME SOURCE DATE: SOURCE is a file of PE-DIR or, after '=', text.
put() {
  local file=$out/$1/$2
  mkdir -p "$out/$1"
  case $3 in
    =*) printf '%s\r\n' "${3#=}" >"$file" ;;
    *) cp "$pe/$3" "$file" ;;
  esac
  touch -d "$4 12:00:00 UTC" "$file"
}

# The files every set of the main table carries alike.
common() {
  put "$1" EN.TXT "=english" 2000-01-01
  put "$1" DE.TXT "=deutsch" 2000-01-01
  put "$1" GA.DLL v1.dll 2000-01-01
  put "$1" GB.DLL v1.dll 2000-01-01
  put "$1" ON95.TXT "=for the 95 family" 2000-01-01
  put "$1" ONNT.TXT "=for NT 4.0" 2000-01-01
  put "$1" ON2KXP.TXT "=for 2000 and XP" 2000-01-01
}

rm -rf "$out"
# A: the first release, and a file the table does not know.
put A CORE.DLL v1.dll 2000-01-01
put A HELPER.DLL v1.dll 2000-01-01
put A NOTES.TXT "=notes A" 2001-01-01
put A OPT.DLL v1.dll 2000-01-01
put A EXTRA.TXT "=archive only" 2000-01-01
common A
# B: a later version of CORE and OPT, HELPER at the same version with other
# bytes, NOTES with a later time stamp.
put B CORE.DLL v2.dll 2000-01-01
put B HELPER.DLL v1b.dll 2000-01-01
put B NOTES.TXT "=notes B" 2002-01-01
put B OPT.DLL v2.dll 2000-01-01
common B
# C: older than B: CORE at an older version but with a later time stamp,
# NOTES with other bytes and the same time stamp.
put C CORE.DLL v1.dll 2005-01-01
put C HELPER.DLL v1c.dll 2000-01-01
put C NOTES.TXT "=notes C" 2002-01-01
put C OPT.DLL v1.dll 2000-01-01
common C
# D: C with a later CORE.
cp -a "$out/C" "$out/D"
put D CORE.DLL v3.dll 2000-01-01
# RA, RB, RC: three versions of a file that waits for the restart, and one
# moved at once.
for set in RA:v1 RB:v2 RC:v3; do
  put "${set%:*}" DRV.SYS "${set#*:}.dll" 2000-01-01
  put "${set%:*}" NOW.SYS v1.dll 2000-01-01
done
# REG: a file and a registry script (CR LF line ends).
put REG CORE.DLL v1.dll 2000-01-01
printf '%s\r\n' '; registry script of the end-to-end tests' '[REQUIRED]' '[HKEY_LOCAL_MACHINE]' \
  'REGKEY = SOFTWARE\Vornak\E2E' 'Target = REG_SZ:%%TARGETDIR%%core.dll' 'Count = REG_DWORD:0x10' \
  'Bytes = REG_BINARY:4 1 2' '[WINDOWS_95]' 'Family = REG_SZ:95' '[WINDOWS_NT]' 'Family = REG_SZ:NT' \
  '[WINDOWS_95NT]' '[OPTIONAL]' 'Kept = REG_SZ:new' >"$out/REG/REG.INF"
touch -d "2000-01-01 12:00:00 UTC" "$out/REG/REG.INF"

for dir in "$out"/*/; do
  set=$(basename "$dir")
  "$arq" sfx -j "$stub" "$out/e2e_$set.exe" $(ls -d "$dir"* | sort)
done
