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
    wineserver -p </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f </dev/null >/dev/null 2>&1
    # The desktop is made when the session starts: a new one has it.
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    tests/wine-run "$prefix" "$tests" --setup="$win32/tlmrinst/setup.exe" \
      --hooks="$win32/tests/wizard/wizard_setup.exe" --work="$work/work-$locale" --locale=$locale \
      --shots="$work/$locale" --gtest_filter=Screens.* &
    driver=$!
    # The driver asks for each picture with "NAME X Y WIDTH HEIGHT" in
    # request.txt (desktop coordinates; the virtual desktop sits at the
    # display's top-left corner) and goes on once the request is gone.
    request=$work/$locale/request.txt
    while kill -0 $driver 2>/dev/null; do
      if [ -f "$request" ]; then
        read -r name x y w h <"$request"
        import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
        rm -f "$request"
      fi
      sleep 0.1
    done
    wait $driver
    wineserver -k </dev/null >/dev/null 2>&1 || true
  )
  rm -rf "$prefix"
done
ls "$out"
