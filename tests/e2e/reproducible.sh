#!/bin/bash
# Builds setup.exe a second time, in a scratch build of its own with the same
# toolchain, and compares the two images byte for byte: the build must not
# depend on where or when it ran.
#   reproducible.sh SETUP.EXE SOURCE-DIR SCRATCH-DIR BUILD-TYPE
set -u
image=$1 src=$2 scratch=$3 type=${4:-Release}
rm -rf "$scratch"
if ! cmake -S "$src" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
     -DTELMURA_PART=win32 -DCMAKE_BUILD_TYPE="$type" >"$scratch.log" 2>&1 ||
   ! cmake --build "$scratch" --target setup -j2 >>"$scratch.log" 2>&1; then
  echo "FAIL: the second build of setup.exe failed:"; tail -30 "$scratch.log"; exit 1
fi
second=$(find "$scratch" -name setup.exe -path '*tlmrinst*' | head -1)
[ -n "$second" ] || { echo "FAIL: the second build made no setup.exe"; exit 1; }
if cmp "$image" "$second"; then
  echo "ok: $(stat -c %s "$image") bytes, identical in both builds"
  rm -rf "$scratch" "$scratch.log"
  exit 0
fi
echo "FAIL: the two builds of setup.exe differ (second build kept in $scratch)"
cmp -l "$image" "$second" | head -20
exit 1
