#!/usr/bin/env bash
# Builds both presets and runs every test: the native suite (engine, channel
# on a pseudo-terminal, settings, window logic, pager emulator, end-to-end
# updates over a real line), then the Windows build's suites under Wine with
# COM1 leading to the pager emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh

jobs=$(nproc)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

echo "== Native build and tests"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs"

echo "== Windows build (mingw-w64) and tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
export WINEPREFIX=$root/build/windows/wineprefix
bash tools/wine/setup-prefix.sh "$WINEPREFIX"
ctest --preset windows -j "$jobs"
wineserver -k 2>/dev/null || true
