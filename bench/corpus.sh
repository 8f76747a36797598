#!/bin/bash
# The installation benchmark's large payload: every third of Wine's 32-bit
# DLLs up to 1.5 MB, ordered by size (a spread of sizes from 8 KB up); one
# path a line.
dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
ls -l "$dlls"/*.dll | awk '$5 <= 1500000 {print $5, $9}' | sort -n -k1,1 -k2,2 | awk 'NR % 3 == 0 {print $2}'
