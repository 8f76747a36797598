#!/bin/bash
# Packer check values (not a test): packs the installation benchmark's large
# payload (bench/corpus.sh) into one archive with arq a, and prints the
# archive's size and CRC-32, so that a change of the packer can show its
# output unchanged byte for byte, or what a packing level gains.
#   bench/pack_check.sh ARQ [OPTION...]     e.g. bench/pack_check.sh build/arq/arq --best
set -eu
cd "$(dirname "$0")/.."
arq=$(realpath "$1")
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t files < <(bench/corpus.sh)
start=$(date +%s.%N)
"$arq" a -j "$@" "$work/corpus.arq" "${files[@]}" >/dev/null
end=$(date +%s.%N)
crc32() { gzip -c "$1" | tail -c8 | od -An -tx4 -N4 | tr -d ' '; }
echo "corpus: ${#files[@]} files, $(cat "${files[@]}" | wc -c) bytes;" \
     "archive $(stat -c %s "$work/corpus.arq") bytes, CRC-32 $(crc32 "$work/corpus.arq"),"\
     "packed in $(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1f", b - a}') s"
