#!/bin/bash
# Installs what the builds and tests need on a Debian 12 machine, when it is
# missing, and generates the locales the language tests run Wine under. Run
# as root.
set -eu
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for p in cmake make g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev zlib1g-dev \
         mingw-w64 g++-mingw-w64-i686 wine wine32 wine64 xvfb xdotool imagemagick \
         locales fonts-wine fonts-wqy-microhei fonts-ipafont-gothic; do
  have "$p" || need+=("$p")
done
# Authenticode signing of setup.exe (and its test).
for p in osslsigncode openssl; do have "$p" || need+=("$p"); done
# arq's test of a folder another user writes holds arq's renames with it.
have strace || need+=(strace)
# arq's test of extraction where letter case folds mounts a FUSE file system.
have python3-fusepy || need+=(python3-fusepy)
[ -d /usr/src/googletest ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# Wine takes its user locale and ANSI code page from the Unix locale, which
# must exist; without CJK fonts it never offers an East Asian language.
wanted=(en_US de_CH en_GB pt_BR ru_RU ko_KR ja_JP zh_TW zh_CN)
generate=0
for l in "${wanted[@]}"; do
  if ! locale -a 2>/dev/null | grep -qix "$l.utf-\?8"; then
    sed -i "s/^# *\($l\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -qx "$l.UTF-8 UTF-8" /etc/locale.gen || echo "$l.UTF-8 UTF-8" >>/etc/locale.gen
    generate=1
  fi
done
[ $generate -eq 0 ] || locale-gen
