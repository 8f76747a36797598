#!/bin/bash
# Checks the built installer image and the other programs it ships: PE32 GUI
# programs for Windows 4.0 loaders, below 400,000 bytes, importing only DLLs
# that every loader takes from the system (a DLL such as comctl32.dll or
# version.dll is looked for beside the program first, where another user may
# have put one), and free of the archive's entry and archive signature bytes
# (67 57 04 01, 67 57 04 02), which would make the payload scan find a false
# start inside the program itself.
#   image_check.sh SETUP.EXE [PROGRAM.EXE...]
set -u
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
failures=0
fail() { echo "FAIL: $image: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

for image in "$@"; do
[ -f "$image" ] || { fail "no image"; continue; }
headers=$("$objdump" -p "$image") || { fail "objdump cannot read it"; continue; }
field() { awk -v f="$1" '$1 == f { print $2; exit }' <<<"$headers"; }

grep -q "file format pei-i386" <<<"$headers" && pass "PE32 (pei-i386)" || fail "not a PE32 image"
[ "$(field Magic)" = "010b" ] && pass "optional header magic 010b" || fail "optional header magic $(field Magic)"
subsystem=$(field Subsystem)
[ "$subsystem" = "00000002" ] && pass "GUI subsystem" || fail "subsystem $subsystem, not 2 (Windows GUI)"
for f in MajorOSystemVersion:4 MinorOSystemVersion:0 MajorSubsystemVersion:4 MinorSubsystemVersion:0; do
  name=${f%%:*} want=${f##*:}
  got=$(field "$name")
  [ "$got" = "$want" ] && pass "$name $got" || fail "$name is ${got:-missing}, want $want"
done

size=$(stat -c %s "$image")
[ "$size" -lt 400000 ] && pass "size $size bytes" || fail "size $size bytes, the limit is below 400000"

allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll msvcrt.dll "
dlls=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$headers" | sort -u)
[ -n "$dlls" ] || fail "no imported DLL found"
for dll in $dlls; do
  case "$allowed" in
    *" $dll "*) pass "imports $dll" ;;
    *) fail "imports $dll, which a loader may take from beside the program" ;;
  esac
done

for last in 01 02; do
  hits=$(LC_ALL=C grep -c -aP "\x67\x57\x04\x$last" "$image")
  [ "$hits" = "0" ] && pass "no bytes 67 57 04 $last" || fail "bytes 67 57 04 $last occur in the image"
done
done

[ $failures -eq 0 ] && echo "image checks passed" || echo "$failures image check(s) failed"
exit $((failures != 0))
