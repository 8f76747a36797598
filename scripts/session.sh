# Shared by the two commands: a virtual display for the installer's windows
# and a persistent wineserver for the throwaway prefix, both stopped again.
session_start() {
  export WINEPREFIX=$PWD/$1 WINEDEBUG=-all
  if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:97
    Xvfb "$DISPLAY" -screen 0 1024x768x24 </dev/null >/dev/null 2>&1 &
    SESSION_XVFB=$!
  fi
}
session_stop() {
  [ -d "$WINEPREFIX" ] && wineserver -k </dev/null >/dev/null 2>&1 || true
  [ -n "${SESSION_XVFB:-}" ] && kill "$SESSION_XVFB" 2>/dev/null || true
}
