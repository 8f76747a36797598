#!/bin/bash
# Runs a Windows test program in a fresh copy of the tests' prepared prefix,
# served by a wineserver of its own, so what it does to the prefix (a forced
# restart carries out every pending rename and ends the session) reaches no
# other test:
#   own-prefix.sh WINE-RUN MAIN-PREFIX OWN-PREFIX PROGRAM [ARGUMENTS...]
# The copy is removed after a passing run and kept after a failing one.
# With OWN_PREFIX_DPI set (120, 144) the copy's screen has that many dots
# per inch, as Windows' large fonts give.
set -u
winerun=$1 main=$2 own=$3
shift 3
export WINEDEBUG=-all
# The shared prefix is created once, by whichever test comes first. It is
# entered under one locale only, whatever this test's: a program of another
# code page rewrites the prefix's font settings (Wine's "Codepages" and what
# follows them), and a copy taken halfway through would start this test with
# half of them (seen as a Chinese system offering only Western languages).
env LANG=C LC_ALL=C "$winerun" "$main" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
(
  flock 9
  [ -f "$main/.ready" ] || { echo "prefix $main was not created" >&2; exit 1; }
  # Other tests work in the shared prefix meanwhile (a temporary folder
  # removed under cp's feet fails the copy), so a failed copy is made again.
  for try in 1 2 3 4 5; do
    rm -rf "$own"
    cp -a "$main" "$own" 2>/dev/null && exit 0
    sleep 1
  done
  echo "cannot copy prefix $main" >&2
  exit 1
) 9>"$main.lock" || exit 1
if [ -n "${OWN_PREFIX_DPI:-}" ]; then
  "$winerun" "$own" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$OWN_PREFIX_DPI" /f \
    </dev/null >/dev/null 2>&1 || { echo "cannot set $OWN_PREFIX_DPI dpi in $own" >&2; exit 1; }
fi
"$winerun" "$own" "$@"
rc=$?
WINEPREFIX=$own wineserver -k </dev/null >/dev/null 2>&1
[ $rc -eq 0 ] && rm -rf "$own"
exit $rc
