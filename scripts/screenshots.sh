#!/bin/bash
# Pictures of every page of the wizard, taken from running wizards under a
# virtual display: every page in English, and the language and welcome
# pages under Japanese, Traditional and Simplified Chinese locales; and the
# welcome and restart pages with large fonts (120 and 144 dpi); and the
# generic setup's welcome page in English (its example product). Each
# locale runs in its own copy of the tests' prefix, with Wine's virtual
# desktop on so the windows have their frames. Writes docs/screenshots/.
#   bash scripts/screenshots.sh     (after a build; DISPLAY may be set)
set -eu
cd "$(dirname "$0")/.."
root=$PWD
win32=$root/build/win32
tests=$win32/tests/wizard/wizard_tests.exe
[ -f "$tests" ] || { echo "build first: $tests is missing" >&2; exit 1; }
out=$root/docs/screenshots
work=$root/build/screenshots
mkdir -p "$out" "$work"

source scripts/session.sh
session_start build/win32/wineprefix
trap session_stop EXIT
tests/wine-run "$WINEPREFIX" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1

# Each run is LOCALE:DPI. With large fonts (120 and 144 dots per inch, on
# a larger desktop) the welcome and restart pages are kept, named with the
# DPI.
for run in en_US:96 ja_JP:96 zh_TW:96 zh_CN:96 en_US:120 en_US:144 ja_JP:144; do
  locale=${run%%:*} dpi=${run#*:}
  prefix=$work/prefix-$locale-$dpi
  shots=$out
  [ "$dpi" = 96 ] || shots=$work/pictures-$locale-$dpi
  rm -rf "$prefix" "$work/$locale"
  cp -a "$WINEPREFIX" "$prefix"
  mkdir -p "$work/$locale" "$shots"
  (
    export LANG=$locale.UTF-8 LC_ALL=$locale.UTF-8 WINEPREFIX=$prefix
    if [ "$dpi" = 96 ]; then
      virtual_desktop "$prefix"
    else
      wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
      virtual_desktop "$prefix" 1024x768
    fi
    tests/wine-run "$prefix" "$tests" --setup="$win32/tlmrinst/setup.exe" \
      --hooks="$win32/tests/wizard/wizard_setup.exe" --generic="$win32/examples/acme/acme-setup.exe" \
      --work="$work/work-$locale" --locale=$locale \
      --shots="$work/$locale" --gtest_filter=Screens.* &
    driver=$!
    # Pictures in desktop coordinates: the virtual desktop sits at the
    # display's top-left corner.
    serve_pictures $driver "$work/$locale/request.txt" "$shots"
    wait $driver
    wineserver -k </dev/null >/dev/null 2>&1 || true
  )
  if [ "$dpi" != 96 ]; then
    for page in 2-welcome 5-restart; do
      [ -f "$shots/$page-$locale.png" ] && cp "$shots/$page-$locale.png" "$out/$page-$locale-${dpi}dpi.png"
    done
    rm -rf "$shots"
  fi
  rm -rf "$prefix"
done
ls "$out"
