#!/bin/bash
# Pictures of every page of the wizard, taken from running wizards under a
# virtual display: every page in English, and the language and welcome
# pages under Japanese, Traditional and Simplified Chinese locales. Each
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

for locale in en_US ja_JP zh_TW zh_CN; do
  prefix=$work/prefix-$locale
  rm -rf "$prefix" "$work/$locale"
  cp -a "$WINEPREFIX" "$prefix"
  mkdir -p "$work/$locale"
  (
    export LANG=$locale.UTF-8 LC_ALL=$locale.UTF-8 WINEPREFIX=$prefix
    virtual_desktop "$prefix"
    tests/wine-run "$prefix" "$tests" --setup="$win32/tlmrinst/setup.exe" \
      --hooks="$win32/tests/wizard/wizard_setup.exe" --work="$work/work-$locale" --locale=$locale \
      --shots="$work/$locale" --gtest_filter=Screens.* &
    driver=$!
    # Pictures in desktop coordinates: the virtual desktop sits at the
    # display's top-left corner.
    serve_pictures $driver "$work/$locale/request.txt" "$out"
    wait $driver
    wineserver -k </dev/null >/dev/null 2>&1 || true
  )
  rm -rf "$prefix"
done
ls "$out"
