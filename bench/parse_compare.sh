#!/bin/bash
# The default parse and --best side by side, for one or more builds of arq
# in the same run (e.g. before and after a change of the packer): each arq
# packs cx_bench's corpus (every 8th of Wine's 32-bit DLLs and executables
# by name, and the licence texts) both ways, round after round, in turn.
# Prints, per arq and parse, the archive's size and the best time of the
# rounds (wall and processor), and --best's time and gain against the
# default of the same arq.
#   bench/parse_compare.sh [-r ROUNDS] ARQ...
set -eu
rounds=3
[ "${1:-}" = -r ] && { rounds=$2; shift 2; }
[ $# -ge 1 ] || { echo "usage: $0 [-r ROUNDS] ARQ..." >&2; exit 2; }
arqs=()
for a in "$@"; do arqs+=("$(realpath "$a")"); done
bin=/usr/lib/i386-linux-gnu/wine/i386-windows
mapfile -t files < <(ls "$bin" | grep -iE '\.(dll|exe)$' | LC_ALL=C sort | awk 'NR % 8 == 1' | sed "s|^|$bin/|")
for f in /usr/share/common-licenses/*; do [ -f "$f" ] && files+=("$f"); done
work=$(mktemp -d /dev/shm/parse-compare-XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "corpus: ${#files[@]} files, $(cat "${files[@]}" | wc -c) bytes; best of $rounds rounds"
# Copies named by their base names alone, so that every build stores the
# same names whether or not it keeps paths.
mkdir "$work/corpus"
cp "${files[@]}" "$work/corpus/"
files=("${files[@]##*/}")
cd "$work/corpus"

declare -A wall cpu size
for round in $(seq "$rounds"); do
  for i in $(seq $#); do
    arq=${arqs[i - 1]}
    for parse in default best; do
      option=; [ $parse = best ] && option=--best
      rm -f "$work/out.arq"
      /usr/bin/time -f "%e %U %S" -o "$work/time" "$arq" a $option "$work/out.arq" "${files[@]}" >/dev/null
      read -r e u s < "$work/time"
      key=$i.$parse
      c=$(echo "$u + $s" | bc)
      [ -z "${wall[$key]:-}" ] || [ "$(echo "$e < ${wall[$key]}" | bc)" = 1 ] && wall[$key]=$e
      [ -z "${cpu[$key]:-}" ] || [ "$(echo "$c < ${cpu[$key]}" | bc)" = 1 ] && cpu[$key]=$c
      size[$key]=$(stat -c %s "$work/out.arq")
    done
  done
done
for i in $(seq $#); do
  d=$i.default b=$i.best
  printf '%s\n  default: %d bytes, %s s (processor %s s)\n  --best:  %d bytes, %s s (processor %s s)\n' \
    "${!i}" "${size[$d]}" "${wall[$d]}" "${cpu[$d]}" "${size[$b]}" "${wall[$b]}" "${cpu[$b]}"
  awk -v dw="${wall[$d]}" -v bw="${wall[$b]}" -v dc="${cpu[$d]}" -v bc="${cpu[$b]}" -v ds="${size[$d]}" -v bs="${size[$b]}" \
    'BEGIN {printf "  --best: %.2f times the time (processor %.2f), %.2f %% smaller\n", bw / dw, bc / dc, 100 * (ds - bs) / ds}'
done
