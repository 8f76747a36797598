#!/bin/bash
# Builds setup.exe a second time, in a scratch build of its own with the same
# toolchain, and compares the two byte for byte: the build must not depend on
# where or when it ran. Given setup.exe as shipped and the host build whose
# arq packs it, the second build packs it too and both are compared.
#   reproducible.sh IMAGE SOURCE-DIR SCRATCH-DIR BUILD-TYPE [SETUP.EXE HOST-BUILD]
set -u
image=$1 src=$2 scratch=$3 type=${4:-Release} shipped=${5:-} host=${6:-}
targets=(setup)
options=()
if [ -n "$shipped" ] && [ -n "$host" ]; then
  targets+=(shipped_setup)
  options+=("-DTELMURA_HOST_BIN=$host")
fi
rm -rf "$scratch"
if ! cmake -S "$src" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
     -DTELMURA_PART=win32 -DCMAKE_BUILD_TYPE="$type" "${options[@]}" >"$scratch.log" 2>&1 ||
   ! cmake --build "$scratch" --target "${targets[@]}" -j2 >>"$scratch.log" 2>&1; then
  echo "FAIL: the second build of setup.exe failed:"; tail -30 "$scratch.log"; exit 1
fi
failed=0
compare() {
  local second
  second=$(find "$scratch" -name "$(basename "$1")" -path '*tlmrinst*' | head -1)
  if [ -z "$second" ]; then
    echo "FAIL: the second build made no $(basename "$1")"; failed=1
  elif cmp "$1" "$second"; then
    echo "ok: $(basename "$1"), $(stat -c %s "$1") bytes, identical in both builds"
  else
    echo "FAIL: the two builds of $(basename "$1") differ (second build kept in $scratch)"
    cmp -l "$1" "$second" | head -20
    failed=1
  fi
}
compare "$image"
[ -n "$shipped" ] && [ -n "$host" ] && compare "$shipped"
[ $failed -eq 0 ] && rm -rf "$scratch" "$scratch.log"
exit $failed
