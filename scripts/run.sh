#!/bin/bash
# The main job. Builds only what it runs: setup.exe as shipped with its
# uninstaller, the program that runs it and reports, and the one that walks
# its wizard (the tests, fuzz targets and benchmarks are scripts/test.sh's).
# Then runs setup.exe in a fresh throwaway Wine prefix of its own under
# build/ (never ~/.wine): silently, showing the files and registry values it
# wrote; then the uninstaller it installed, silently, and what is left after
# it and a restart; then visually. WINDOWS_VERSION (default winxp) is the
# version Wine reports to them. The visual run's wizard shows on DISPLAY (a
# virtual display of its own when none is set), in Wine's virtual desktop,
# and is walked through its default choices (Next, Install, then OK or
# Reboot), each page printed and pictured in build/mainjob-pages/. With
# VISUAL_BY_HAND=1 the wizard waits for its user instead.
#
# The package check and the build each show one line of progress; their
# whole output goes to build/mainjob/ and is shown when they fail. Each run
# says its result in words; its full report (the 32-bit exit code and the
# log it wrote) is kept in build/mainjob/. Exits 0 when every run was made,
# whatever status it ended with, and non-zero when the build or a run could
# not be made.
set -euo pipefail
cd "$(dirname "$0")/.."
began=$SECONDS
out=build/mainjob
mkdir -p "$out"

seconds() { local s=$((SECONDS - $1)); [ $s -lt 60 ] && echo "$s s" || echo "$((s / 60)) min $((s % 60)) s"; }
# Keeps every line of a command's output in the file $2 and, on a terminal,
# shows one line that follows it: "$1", the part of the build (make's
# percentages start again in the Windows sub-build; parallel jobs may print
# them a little out of order), its percentage and the file it is at.
follow() {
  local verb=$1 log=$2 line at part=1 last=0 percent
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    [ -t 1 ] || continue
    if [[ $line =~ ^\[\ *([0-9]+)%\]\ (.*)$ ]]; then
      percent=${BASH_REMATCH[1]}
      [ $((percent + 50)) -lt "$last" ] && part=2
      last=$percent
      at="part $part of 2, $percent%: ${BASH_REMATCH[2]##*[/ ]}"
    else
      at=$line
    fi
    printf '\r\033[K%.79s' "$verb: $at"
  done
}
# step VERB WHAT LOG COMMAND...: runs the command with its output in LOG and
# one line on the screen; a failure shows the whole output and ends the job.
step() {
  local verb=$1 what=$2 log=$3 start=$SECONDS
  shift 3
  : >"$log"
  [ -t 1 ] || echo "$verb $what ..."
  if "$@" </dev/null 2>&1 | follow "$verb" "$log"; then
    [ -t 1 ] && printf '\r\033[K'
    echo "$verb $what: done in $(seconds "$start") (its output: $log)"
  else
    [ -t 1 ] && printf '\r\033[K'
    echo "$verb $what: FAILED after $(seconds "$start"). Its output ($log):"
    cat "$log"
    exit 1
  fi
}
build() {
  cmake -S . -B build
  cmake --build build --target mainjob -j"$(nproc)"
}

step Checking "the Debian packages" "$out/packages.log" bash scripts/deps.sh
step Building "setup.exe, its uninstaller and the programs that run them" "$out/build.log" build
setup=$PWD/build/win32/tlmrinst/setup.exe
showrun=$PWD/build/win32/tests/e2e/e2e_showrun.exe
walk=$PWD/build/win32/tests/wizard/wizard_walk.exe
for f in "$setup" "$showrun" "$walk"; do
  [ -f "$f" ] || { echo "missing $f: the build did not make it" >&2; exit 1; }
done

source scripts/session.sh
# A fresh prefix each time, so the silent run really installs.
[ -d build/mainjob-prefix ] && WINEPREFIX=$PWD/build/mainjob-prefix wineserver -k </dev/null >/dev/null 2>&1 || true
rm -rf build/mainjob-prefix
session_start build/mainjob-prefix
trap session_stop EXIT
# report NAME COMMAND...: runs the command under Wine, keeps what it prints
# in build/mainjob/NAME.txt and shows it up to the log.
report() {
  local file=$out/$1.txt
  shift
  tests/wine-run "$WINEPREFIX" "$@" >"$file"
  sed -n '/^log .*:\r\?$/q; s/^/  /; p' "$file"
  echo "  full report, with the log: $file"
}

# The Windows version Wine reports to both programs.
version=${WINDOWS_VERSION:-winxp}
case $version in
  win95) named="Windows 95" ;; win98) named="Windows 98" ;; winme) named="Windows Me" ;;
  nt40) named="Windows NT 4.0" ;; win2k) named="Windows 2000" ;; winxp) named="Windows XP" ;;
  *) echo "WINDOWS_VERSION must be win95, win98, winme, nt40, win2k or winxp" >&2; exit 1 ;;
esac
start=$SECONDS
for program in setup.exe tlmrunin.exe; do
  tests/wine-run "$WINEPREFIX" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /d "$version" /f \
    </dev/null >/dev/null 2>&1
done
system=$WINEPREFIX/drive_c/windows/system32
# Every system of the 95 family has the directory its driver goes to.
case $version in win9? | winme) mkdir -p "$system/iosubsys" ;; esac
echo "A fresh Wine prefix, build/mainjob-prefix, that reports $named: made in $(seconds "$start")"
files() {
  for f in drivers/dravelon.sys drivers/dravelon.BAK iosubsys/dravelon.vxd iosubsys/dravelon.BAK tlmrunin.exe; do
    [ -f "$system/$f" ] && echo "    C:\\windows\\system32\\${f//\//\\}  $(stat -c %s "$system/$f") bytes"
  done
  return 0
}
keys() {
  local key query
  for key in 'HKLM\SYSTEM\CurrentControlSet\Services\Dravelon' \
             'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Vornak Telmura'; do
    if query=$(tests/wine-run "$WINEPREFIX" reg query "$key" </dev/null 2>/dev/null); then
      tr -d '\r' <<<"$query" | sed '/^$/d; s/^/    /'
    fi
  done
  return 0
}

echo
echo "1. Silent installation as $named: setup.exe /silent /leavelog"
report 1-silent-install "$showrun" "$setup" /silent /leavelog
grep -q "^result: message id 2:" "$out/1-silent-install.txt" &&
  echo "  A silent run never restarts Windows: it registered the uninstaller instead."
echo "  The files it wrote:"
files
echo "  The registry values it wrote:"
keys

echo
echo "2. Silent removal: C:\\windows\\system32\\tlmrunin.exe /silent /leavelog, then a restart"
report 2-silent-removal "$showrun" --uninstaller 'C:\windows\system32\tlmrunin.exe' /silent /leavelog
tests/wine-run "$WINEPREFIX" wineboot -r </dev/null >/dev/null 2>&1
left=$(files; keys)
echo "  Left after the removal and the restart: ${left:-nothing}"

echo
if [ "${VISUAL_BY_HAND:-}" != 1 ]; then
  echo "3. Visual run: setup.exe /leavelog, its wizard walked through the default choices"
  virtual_desktop "$WINEPREFIX"
  pages=build/mainjob-pages
  rm -rf "$pages"
  mkdir -p "$pages"
  report 3-visual "$walk" --shots="$PWD/$pages" "$setup" /leavelog &
  walker=$!
  serve_pictures $walker "$pages/request.txt" "$pages"
  wait $walker
  echo "  Pictures of the pages: $pages/"
else
  echo "3. Visual run: setup.exe /leavelog, the wizard waits for you"
  report 3-visual "$showrun" "$setup" /leavelog
fi
echo
echo "Main job done in $(seconds "$began"): all three runs were made."
