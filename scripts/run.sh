#!/bin/bash
# The main job: builds everything, then runs setup.exe twice in a throwaway
# Wine prefix of its own under build/ (never ~/.wine): silent, then visual.
# Each run prints its exit code as the 32-bit status word in hex (a Unix
# exit status would keep only 8 bits of it) and the log it wrote, which is
# then removed. The visual run's wizard shows on DISPLAY (a virtual display
# of its own when none is set), in Wine's virtual desktop, and is walked
# through its default choices (Next, Install, then OK or Reboot), each page
# printed and pictured in build/mainjob-pages/. With VISUAL_BY_HAND=1 the
# wizard waits for its user instead.
# Exits 0 when both runs were made, whatever status they ended with, and
# non-zero when the build or a run could not be made.
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
session_start build/mainjob-prefix
trap session_stop EXIT
run() { tests/wine-run "$WINEPREFIX" "$showrun" "$@"; }

echo "=== silent run: setup.exe /silent /leavelog"
run "$setup" /silent /leavelog

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
