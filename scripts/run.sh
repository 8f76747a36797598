#!/bin/bash
# The main job: builds everything, then runs setup.exe twice in a throwaway
# Wine prefix of its own under build/ (never ~/.wine): silent, then visual.
# Each run prints its exit code as the 32-bit status word in hex (a Unix
# exit status would keep only 8 bits of it) and the log it wrote, which is
# then removed. A visual run still waiting for a user after VISUAL_SECONDS
# (default 60) is ended; a screenshot of it is left in build/ when
# ImageMagick's import is at hand and the run lasted long enough for one.
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

seconds=${VISUAL_SECONDS:-60}
echo "=== visual run: setup.exe /leavelog"
rm -f build/mainjob-visual.png
if command -v import >/dev/null && import -version 2>/dev/null | grep -q ImageMagick; then
  ( sleep $((seconds - 5)); import -window root build/mainjob-visual.png ) </dev/null >/dev/null 2>&1 &
  shot=$!
fi
run --timeout="$seconds" "$setup" /leavelog
if [ -n "${shot:-}" ]; then
  kill "$shot" 2>/dev/null || true
  wait "$shot" 2>/dev/null || true
  if [ -f build/mainjob-visual.png ]; then
    echo "screenshot of the visual run: build/mainjob-visual.png"
  fi
fi
echo "=== main job done: both runs made"
