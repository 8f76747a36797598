#!/bin/bash
# Stages the payload of setup.exe and appends it to the installer image:
#   pack.sh ARQ IMAGE OUTPUT STAGE VXD SYS XPSYS INF UNINSTALLER README
# The entries go in the order of the shipped archive, named in upper case,
# each with the fixed time stamp of its release and the mode of a
# read-write file (the uninstaller: of a program), so that the archive does
# not depend on when or where it was built. The archive is packed twice, by
# default and with --best, and the smaller one is shipped (both are
# deterministic, so the choice is too). README is copied beside OUTPUT,
# where the installer looks for it.
set -eu
arq=$1 image=$2 output=$3 stage=$4
vxd=$5 sys=$6 xpsys=$7 inf=$8 uninstaller=$9 readme=${10}

rm -rf "$stage"
mkdir -p "$stage"
entries=()
put() {
  cp "$2" "$stage/$1"
  chmod "$3" "$stage/$1"
  touch -d "$4 UTC" "$stage/$1"
  entries+=("$stage/$1")
}
put DRAVELON.SYS "$sys" 666 "2002-05-17 08:16:26"
put DRAVELON.VXD "$vxd" 666 "2002-05-17 08:15:14"
put DRAVELON_XP.SYS "$xpsys" 666 "2002-05-17 08:06:40"
put TLMRINST.INF "$inf" 666 "1998-02-20 01:26:04"
put TLMRUNIN.EXE "$uninstaller" 777 "2002-05-17 08:18:40"

rm -f "$output.tmp" "$output.best"
"$arq" sfx -j "$image" "$output.tmp" "${entries[@]}"
"$arq" sfx -j --best "$image" "$output.best" "${entries[@]}"
if [ "$(stat -c %s "$output.best")" -lt "$(stat -c %s "$output.tmp")" ]; then
  mv -f "$output.best" "$output.tmp"
fi
rm -f "$output.best"
mv -f "$output.tmp" "$output"
cp "$readme" "$(dirname "$output")/tlmrinst.txt"
