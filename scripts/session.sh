# Shared by the two commands: a virtual display for the installer's windows
# and a persistent wineserver for the throwaway prefix, both stopped again.
session_start() {
  export WINEPREFIX=$PWD/$1 WINEDEBUG=-all
  if [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a display number no other server holds and writes it to fd 3.
    local number
    number=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$number" </dev/null >/dev/null 2>&1 &
    SESSION_XVFB=$!
    for _ in $(seq 100); do [ -s "$number" ] && break; sleep 0.1; done
    export DISPLAY=:$(head -n1 "$number")
    rm -f "$number"
  fi
}
session_stop() {
  [ -d "$WINEPREFIX" ] && wineserver -k </dev/null >/dev/null 2>&1 || true
  [ -n "${SESSION_XVFB:-}" ] && kill "$SESSION_XVFB" 2>/dev/null || true
}
# Takes the pictures a Windows program asks for while it runs (pid $1): it
# writes "NAME X Y WIDTH HEIGHT" (NAME without blanks) to the request file $2 and waits for the
# file to go; each picture of the display's area becomes $3/NAME.png.
serve_pictures() {
  local pid=$1 request=$2 out=$3 name x y w h
  while kill -0 "$pid" 2>/dev/null; do
    if [ -f "$request" ]; then
      read -r name x y w h <"$request"
      import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png" ||
        echo "no picture of $name" >&2
      rm -f "$request"
    fi
    sleep 0.1
  done
}
# Turns on Wine's virtual desktop in the prefix $1, so windows have Wine's
# own frames on a display without a window manager, of the size $2 (800x600
# when not given). The desktop is made when a session starts: the prefix's
# server is stopped for a new one.
virtual_desktop() {
  (
    export WINEPREFIX=$1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "${2:-800x600}" /f </dev/null >/dev/null 2>&1
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
  )
}
