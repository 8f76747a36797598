#!/bin/bash
# Builds everything (host, win32 and fuzz builds) and runs every test: host
# unit tests, the engine's tests under Wine, the installer's unit and
# end-to-end tests under Wine, the wizard in a real window (on DISPLAY, or a
# virtual display of its own), and bounded fuzz runs.
set -eu
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
source scripts/session.sh
session_start build/win32/wineprefix
trap session_stop EXIT
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
