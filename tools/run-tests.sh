#!/usr/bin/env bash
# Builds both presets and runs every test: the native suite (engine, channel
# on a pseudo-terminal, settings, window logic, pager emulator, end-to-end
# updates over a real line, the fault matrix), the same under ASan and UBSan,
# the fuzzers for a bounded time, a soak under valgrind, then the Windows
# build's suites under Wine with COM1 leading to the pager emulator and the
# program itself driven by key strokes; then the packages of both builds
# (a Debian package, a Windows ZIP) with their contents listed.
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

echo "== Native build and tests with AddressSanitizer and UBSan"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== Fuzzing the HEX file and the settings file (one minute each)"
bash tools/fuzz/run-fuzz.sh 60

echo "== Many updates in one process under valgrind"
bash tools/fuzz/run-valgrind.sh 100

echo "== Windows build (mingw-w64) and tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
export WINEPREFIX=$root/build/windows/wineprefix
bash tools/wine/setup-prefix.sh "$WINEPREFIX"
ctest --preset windows -j "$jobs"
wineserver -k 2>/dev/null || true

echo "== Packages"
(cd build/linux && cpack)
dpkg-deb --info build/linux/packages/*.deb
dpkg-deb --contents build/linux/packages/*.deb
(cd build/windows && cpack)
unzip -l build/windows/packages/*.zip
