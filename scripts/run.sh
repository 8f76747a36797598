#!/bin/bash
# The main job: builds everything, then runs setup.exe in a fresh throwaway
# Wine prefix of its own under build/ (never ~/.wine): silently, showing the
# files and registry values it wrote, then the uninstaller it installed,
# silently, and what is left after it and a restart; then visually. Each run
# prints its exit code as the 32-bit status word in hex (a Unix exit status
# would keep only 8 bits of it) and the log it wrote, which is then removed.
# WINDOWS_VERSION (default winxp) is the version Wine reports to them. The
# visual run's wizard shows on DISPLAY (a virtual display of its own when
# none is set), in Wine's virtual desktop, and is walked through its default
# choices (Next, Install, then OK or Reboot), each page printed and pictured
# in build/mainjob-pages/. With VISUAL_BY_HAND=1 the wizard waits for its
# user instead. Exits 0 when every run was made, whatever status it ended
# with, and non-zero when the build or a run could not be made.
set -eu
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build
cmake --build build -j"$(nproc)"

setup=$PWD/build/win32/tlmrinst/setup.exe
showrun=$PWD/build/win32/tests/e2e/e2e_showrun.exe
for f in "$setup" "$showrun"; do
  [ -f "$f" ] || { echo "missing $f: the build did not make it" >&2; exit 1; }
done

source scripts/session.sh
# A fresh prefix each time, so the silent run really installs.
[ -d build/mainjob-prefix ] && WINEPREFIX=$PWD/build/mainjob-prefix wineserver -k </dev/null >/dev/null 2>&1 || true
rm -rf build/mainjob-prefix
session_start build/mainjob-prefix
trap session_stop EXIT
run() { tests/wine-run "$WINEPREFIX" "$showrun" "$@"; }

# The Windows version Wine reports to both programs (win95, win98, winme,
# nt40, win2k or winxp).
version=${WINDOWS_VERSION:-winxp}
for program in setup.exe tlmrunin.exe; do
  tests/wine-run "$WINEPREFIX" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /d "$version" /f \
    </dev/null >/dev/null 2>&1
done
system=$WINEPREFIX/drive_c/windows/system32
files() {
  for f in drivers/dravelon.sys drivers/dravelon.BAK iosubsys/dravelon.vxd iosubsys/dravelon.BAK tlmrunin.exe; do
    [ -f "$system/$f" ] && echo "  C:\\windows\\system32\\${f//\//\\}  $(stat -c %s "$system/$f") bytes"
  done
  return 0
}
keys() {
  for key in 'HKLM\SYSTEM\CurrentControlSet\Services\Dravelon' \
             'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Vornak Telmura'; do
    if query=$(tests/wine-run "$WINEPREFIX" reg query "$key" </dev/null 2>/dev/null); then
      tr -d '\r' <<<"$query" | grep -v '^$'
    else
      echo "  (no key $key)"
    fi
  done
}

echo "=== silent run as $version: setup.exe /silent /leavelog"
run "$setup" /silent /leavelog
echo "=== the files it wrote"
files
echo "=== the registry values it wrote"
keys
echo "=== silent removal: C:\\windows\\system32\\tlmrunin.exe /silent /leavelog, then a restart"
run 'C:\windows\system32\tlmrunin.exe' /silent /leavelog
tests/wine-run "$WINEPREFIX" wineboot -r </dev/null >/dev/null 2>&1
echo "=== left after the removal and the restart (nothing expected)"
files
keys

echo "=== visual run: setup.exe /leavelog"
walk=$PWD/build/win32/tests/wizard/wizard_walk.exe
if [ "${VISUAL_BY_HAND:-}" != 1 ] && [ -f "$walk" ]; then
  virtual_desktop "$WINEPREFIX"
  pages=$PWD/build/mainjob-pages
  rm -rf "$pages"
  mkdir -p "$pages"
  tests/wine-run "$WINEPREFIX" "$walk" --shots="$pages" "$setup" /leavelog &
  walker=$!
  serve_pictures $walker "$pages/request.txt" "$pages"
  wait $walker
  echo "pictures of the pages: $pages"
else
  run "$setup" /leavelog
fi
echo "=== main job done: both runs made"
