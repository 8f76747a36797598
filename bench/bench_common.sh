# What the installation benchmarks share (sourced, not run).

# bench_tools BUILD-DIR: sets arq, arqexe and stub (the host arq, the Windows
# arq.exe and the test installer of that build) or stops when one is
# missing; installs makensis (Debian package nsis) when it is missing: the
# benchmarks need it, the product and its tests do not.
bench_tools() {
  arq=$1/arq/arq
  arqexe=$1/win32/arq/arq.exe
  stub=$1/win32/tests/e2e/e2e_testsetup.exe
  local f
  for f in "$arq" "$arqexe" "$stub"; do
    [ -f "$f" ] || { echo "missing $f: build first" >&2; exit 1; }
  done
  if ! command -v makensis >/dev/null; then
    echo "installing makensis (Debian package nsis) for the comparison..." >&2
    apt-get install -y --no-install-recommends nsis >/dev/null || { echo "cannot install nsis" >&2; exit 1; }
  fi
}

# nsis_installer OUTPUT FILE...: an NSIS installer of the files (none: its
# stub alone), NSIS's default compression, that installs silently into
# C:\bench\nsis or the directory given with /D=.
nsis_installer() {
  local output=$1 f
  shift
  {
    echo "Name bench"
    echo "OutFile \"$output\""
    echo "InstallDir \"C:\\bench\\nsis\""
    echo "RequestExecutionLevel user"
    echo "SilentInstall silent"
    echo "Section"
    echo "  SetOutPath \"\$INSTDIR\""
    for f in "$@"; do echo "  File \"$f\""; done
    echo "SectionEnd"
  } >"$output.nsi"
  makensis -V1 "$output.nsi" >/dev/null
}

# bench_prefix EXE...: makes the 32-bit prefix $WINEPREFIX and has Wine
# report Windows XP to each program named.
bench_prefix() {
  local exe
  echo "preparing the prefix..." >&2
  tests/wine-run "$WINEPREFIX" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
  for exe in "$@"; do
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /t REG_SZ /d winxp /f >/dev/null 2>&1
  done
}

# win PATH: the path as Wine's programs see it, on drive Z:.
win() { echo "Z:${1//\//\\}"; }
