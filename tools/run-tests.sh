#!/usr/bin/env bash
# Builds both presets and runs every test: the native suite (engine, channel
# on a pseudo-terminal, settings, window logic, pager emulator, end-to-end
# updates over a real line, the fault matrix), the same under ASan and UBSan,
# the fuzzers for a bounded time, a soak under valgrind, then the Windows
# build's suites under Wine with COM1 leading to the pager emulator and the
# program itself driven by key strokes; then many benches' logs carried by
# rsyslog into one PostgreSQL table (tools/fleet); then the packages of both
# builds (a Debian package checked by lintian, a Windows ZIP).
#
# Every stage runs even when an earlier one failed; the run ends with one
# verdict line per stage and the total, and exits 1 when anything failed.
# Full logs are in build/test-logs/.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh || exit 2

jobs=$(nproc)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
logs=$root/build/test-logs
mkdir -p "$logs"

verdicts=()
total_passed=0
total_failed=0

# verdict STAGE PASSED FAILED
verdict() {
  verdicts+=("$(printf '%-10s %s passed, %s failed' "$1:" "$2" "$3")")
  total_passed=$((total_passed + $2))
  total_failed=$((total_failed + $3))
}

# ctest's result lines without the dot padding ("  12/544 Passed  0.01 s
# Name"), the output of a failed test in full, and its closing lines.
short_ctest() {
  perl -ne '$| = 1; next if /^\s*Start\s+\d+: /;
    s/^(\s*\d+\/\d+) Test\s+#\d+: (.*?) \.+(?:\*\*\*)?\s*(\S.*?)\s+([\d.]+) sec$/$1 $3  $4 s  $2/;
    print'
}

# ctest_stage NAME PRESET: runs the preset's tests; the verdict from
# ctest's own count, or one failure when it gave none (it did not run).
ctest_stage() {
  local name=$1 preset=$2 log=$logs/ctest-$2.log
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log" | short_ctest
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
  if [[ -z $line ]]; then
    verdict "$name" 0 1
    return
  fi
  local failed total
  failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  verdict "$name" $((total - failed)) "$failed"
}

# build PRESET: configure and build; a failed build is its stage's one
# failure.
build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}

echo "== Native build and tests"
if build linux; then ctest_stage native linux; else verdict native 0 1; fi

echo "== Native build and tests with AddressSanitizer and UBSan"
if build asan; then ctest_stage asan asan; else verdict asan 0 1; fi

echo "== Fuzzing the HEX file and the settings file (one minute each)"
bash tools/fuzz/run-fuzz.sh 60 2>&1 | tee "$logs/fuzz.log"
fuzz_passed=0
for kind in hex settings; do
  if grep -q -E "^$kind .* exit 0$" "$logs/fuzz.log" && ! grep -q "^FINDING in $kind " "$logs/fuzz.log"; then
    fuzz_passed=$((fuzz_passed + 1))
  fi
done
verdict fuzz "$fuzz_passed" $((2 - fuzz_passed))

echo "== Many updates in one process under valgrind"
if bash tools/fuzz/run-valgrind.sh 100 2>&1 | tee "$logs/valgrind.log"; then
  verdict valgrind 1 0
else
  verdict valgrind 0 1
fi

echo "== Windows build (mingw-w64) and tests under Wine"
export WINEPREFIX=$root/build/windows/wineprefix
if build windows && bash tools/wine/setup-prefix.sh "$WINEPREFIX"; then
  ctest_stage windows windows
else
  verdict windows 0 1
fi
wineserver -k 2>/dev/null || true

echo "== Many benches' logs into one database (tools/fleet, one pager a port)"
bash tools/fleet/try-fleet.sh --pagers 1 2>&1 | tee "$logs/fleet.log"
case ${PIPESTATUS[0]} in
  0) verdict fleet 1 0 ;;
  # The packages could not be installed here: said, and counted as neither.
  77) verdicts+=("$(printf '%-10s skipped: rsyslog or PostgreSQL could not be installed' fleet:)") ;;
  *) verdict fleet 0 1 ;;
esac

echo "== Packages (listings in build/packages.log)"
bash tools/check-packages.sh | tee "$logs/packages.log"
line=$(grep -E '^Packages: [0-9]+ passed, [0-9]+ failed$' "$logs/packages.log" | tail -n1)
if [[ -n $line ]]; then
  read -r p f < <(sed -E 's/^Packages: ([0-9]+) passed, ([0-9]+) failed$/\1 \2/' <<<"$line")
  verdict packages "$p" "$f"
else
  verdict packages 0 1
fi

echo
echo "== Verdicts"
printf '%s\n' "${verdicts[@]}"
echo "Total: $total_passed passed, $total_failed failed"
((total_failed == 0))
