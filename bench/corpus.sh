#!/bin/bash
# The installation benchmark's payloads, one path a line:
#   corpus.sh        the large payload: every third of Wine's 32-bit DLLs up
#                    to 1.5 MB, ordered by size (a spread of sizes from 8 KB up)
#   corpus.sh many   the many-files payload: the first 3,000 C headers of
#                    /usr/include below 64 KB, in byte order of their paths
#                    (the same selection every run on one machine)
if [ "${1:-}" = many ]; then
  find /usr/include -type f -size -64k | LC_ALL=C sort | head -3000
  exit 0
fi
dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
ls -l "$dlls"/*.dll | awk '$5 <= 1500000 {print $5, $9}' | sort -n -k1,1 -k2,2 | awk 'NR % 3 == 0 {print $2}'
