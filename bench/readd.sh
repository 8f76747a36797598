#!/bin/bash
# Adding to a large archive: arq a of N small files into a new archive, then
# the same N files again into that archive (every entry replaced), and arq l
# and arq x of the result. Each step is timed RUNS times; the median is
# printed. The files are named by one pattern ('files/*'), which every arq
# version takes. Not a test.
#   bench/readd.sh ARQ [N] [RUNS]
set -eu
arq=$(realpath "$1") n=${2:-5000} runs=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir files
for i in $(seq 1 "$n"); do printf 'file %d of the set, %s\n' "$i" "$RANDOM$RANDOM" > "files/f$i.txt"; done

seconds() {  # COMMAND...: wall time of one run in seconds (written-back disk first)
    local start end
    sync
    start=$(date +%s.%N)
    "$@" > /dev/null || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

first=() again=() list=() extract=()
for r in $(seq 1 "$runs"); do
    rm -rf big.arq out
    first+=("$(seconds "$arq" a -j big.arq 'files/*')")
    again+=("$(seconds "$arq" a -j big.arq 'files/*')")
    list+=("$(seconds "$arq" l big.arq)")
    extract+=("$(seconds "$arq" x big.arq -C out)")
done
m_first=$(printf '%s\n' "${first[@]}" | median)
m_again=$(printf '%s\n' "${again[@]}" | median)
printf '%d files, median of %d runs\n' "$n" "$runs"
printf 'first add   %8.3f s\n' "$m_first"
printf 're-add      %8.3f s   (%.2f x the first add)\n' "$m_again" "$(awk -v a="$m_again" -v b="$m_first" 'BEGIN { print a / b }')"
printf 'list        %8.3f s\n' "$(printf '%s\n' "${list[@]}" | median)"
printf 'extract     %8.3f s\n' "$(printf '%s\n' "${extract[@]}" | median)"
