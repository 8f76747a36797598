#!/bin/bash
# What an installation asks of Wine (not a test): the requests each program
# makes of the wineserver, by kind, per installed file, for the test
# installer (fresh install and upgrade of every file), an NSIS installer of
# the same files and "arq.exe x" of our archive. Each program runs on the
# whole payload and on its first file alone: the difference divided by the
# files more is what one more file costs, without the start-up. The test
# installer's run is cut into steps by the events it names when E2E_MARKER
# is set (start-up, archive test, extraction, decision, placing, cleanup and
# exit).
#   bench/wine_requests.sh [BUILD-DIR] [PAYLOAD]
# PAYLOAD: small (default: the benchmark's 152 file names, 6,500 bytes each)
# or large (the benchmark's DLLs). The wineserver runs in the foreground with
# its request trace on (-d1) in a prefix of its own under
# BUILD-DIR/bench-requests, removed at the end; the trace of each run is
# kept in BUILD-DIR/bench-requests-traces.
set -eu
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
payload=${2:-small}
. bench/bench_common.sh
bench_tools "$build"

work=$build/bench-requests
traces=$build/bench-requests-traces
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work" "$traces"
mkdir -p "$work/files" "$traces"
server=
stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  [ -z "$server" ] || wait "$server" 2>/dev/null || true
}
trap 'stop; rm -rf "$work"' EXIT

mkdir -p "$work/one"
while read -r f; do
  if [ "$payload" = large ]; then cp "$f" "$work/files/"; else head -c 6500 "$f" >"$work/files/$(basename "$f")"; fi
done < <(bench/corpus.sh)
count=$(ls "$work/files" | wc -l)
cp "$(ls "$work"/files/*.dll | head -1)" "$work/one/"
cp "$arqexe" "$work/arq.exe"
for set in files one; do
  "$arq" sfx -j "$stub" "$work/setup-$set.exe" "$work/$set"/*.dll
  nsis_installer "$work/nsis-$set.exe" "$work/$set"/*.dll
done

bench_prefix setup-files.exe setup-one.exe nsis-files.exe nsis-one.exe arq.exe
wineserver -k </dev/null >/dev/null 2>&1 || true
# A persistent server in the foreground, its trace into a file.
wineserver -f -p -d1 </dev/null >/dev/null 2>"$work/trace" &
server=$!
sleep 1
wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1  # the services start: not part of any run
sleep 2
c=$WINEPREFIX/drive_c
mkdir -p "$c/bench"

# run NAME COMMAND...: runs one program and keeps the trace lines it added
# (each request has a line "tid: name( ... )"; replies are not counted).
run() {
  local name=$1 before after
  shift
  sleep 1
  before=$(wc -l <"$work/trace")
  "$@" </dev/null >/dev/null 2>&1 || true
  sleep 1
  after=$(wc -l <"$work/trace")
  sed -n "$((before + 1)),${after}p" "$work/trace" >"$traces/$name"
}
ours() {
  E2E_CONTEXT=archive E2E_TARGET="C:\\bench\\$2\\" E2E_MARKER=bench wine "$(win "$work/setup-$1.exe")" /silent
}
for set in files one; do
  rm -rf "$c/bench"/*
  run "fresh.$set" ours "$set" inst
  find "$c/bench/inst" -type f -exec touch -d "2000-01-01 12:00:00 UTC" {} +
  run "upgrade.$set" ours "$set" inst
  [ "$(ls "$c/bench/inst"/*.BAK | wc -l)" -eq "$(ls "$work/$set" | wc -l)" ] ||
    { echo "the upgrade did not back up every file" >&2; exit 1; }
  run "nsis.$set" wine "$(win "$work/nsis-$set.exe")" /S '/D=C:\bench\nsis'
  run "arq.$set" wine "$(win "$work/arq.exe")" x "$(win "$work/setup-$set.exe")" -C 'C:\bench\floor'
  for f in "$work/$set"/*.dll; do
    name=$(basename "$f")
    for where in "inst/${name^^}" "nsis/$name" "floor/${name^^}"; do
      cmp -s "$f" "$c/bench/$where" || { echo "$where: not the payload's bytes" >&2; exit 1; }
    done
  done
done

# Requests by kind and by step: a run's request lines are "tid: name( ... )"
# (replies carry " = "); our runs name their steps with events bench-STEP.
tally() {
  awk '
    /^[0-9a-f]+: [a-z_0-9]+\(/ && !/\) = / {
      kind = $2; sub(/\(.*/, "", kind)
      if (kind == "create_event" && match($0, /name=L"bench-[a-z]+"/)) {
        step = substr($0, RSTART + 13, RLENGTH - 14); next
      }
      print "kind", kind; print "step", (step == "" ? "startup" : step); print "kind", "all"
    }' "$1" | sort | uniq -c
}
echo "payload: $count files ($payload). Requests of a run on all files, and what one more file costs:"
echo "(all - one) / ($count - 1), by kind and, for the test installer, by step"
for name in fresh upgrade nsis arq; do
  tally "$traces/$name.files" >"$work/tally.all"
  tally "$traces/$name.one" >"$work/tally.one"
  awk -v name="$name" -v count="$count" '
    FNR == NR { one[$2 " " $3] = $1; next }
    { all[$2 " " $3] = $1; if (!(($2 " " $3) in seen)) { seen[$2 " " $3] = 1; keys[++n] = $2 " " $3 } }
    END {
      printf "%-8s %5d requests, %5.1f a file more:", name, all["kind all"], (all["kind all"] - one["kind all"]) / (count - 1)
      m = 0
      for (i = 1; i <= n; i++) {
        split(keys[i], k, " ")
        per = (all[keys[i]] - one[keys[i]]) / (count - 1)
        if (k[1] == "kind" && k[2] != "all" && (per >= 0.05 || per <= -0.05)) { kinds[++m] = k[2]; value[k[2]] = per }
      }
      for (i = 2; i <= m; i++)
        for (j = i; j > 1 && value[kinds[j - 1]] < value[kinds[j]]; j--) { t = kinds[j]; kinds[j] = kinds[j - 1]; kinds[j - 1] = t }
      for (i = 1; i <= m; i++) printf " %s %.1f", kinds[i], value[kinds[i]]
      printf "\n"
      split("startup sequence extract decide install after exit", steps, " ")
      line = ""
      for (i = 1; i <= 7; i++)
        if (("step " steps[i]) in all)
          line = line sprintf(" %s %.1f", steps[i], (all["step " steps[i]] - one["step " steps[i]]) / (count - 1))
      if (line != "" && ("step extract" in all)) printf "         by step:%s\n", line
    }' "$work/tally.one" "$work/tally.all"
done
echo "(each step's first request is the close of the event that names it)"
