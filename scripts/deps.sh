#!/bin/bash
# Installs what the builds and tests need on a Debian 12 machine, when it is
# missing. Run as root.
set -eu
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for p in cmake make g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev zlib1g-dev \
         mingw-w64 g++-mingw-w64-i686 wine wine32 wine64 xvfb xdotool imagemagick; do
  have "$p" || need+=("$p")
done
[ -d /usr/src/googletest ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
fi
