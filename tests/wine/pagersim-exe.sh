#!/usr/bin/env bash
# pagersim.exe under Wine serving tarvex-flash.exe, as a technician tries a
# bench without pagers: COM7 and COM8 two ends of one link (a pair of
# pseudo-terminals joined by tools/wine/com-pair.sh, as two adapters wired TX
# to RX), the emulator on COM8, one update on COM7. Checks both exit codes
# and the image the emulated pager programmed.
#
#   tests/wine/pagersim-exe.sh PREFIX PAGERSIM_EXE FLASH_EXE HEXFILE
set -euo pipefail
prefix=$(realpath -m "${1:?}"); pagersim=${2:?}; exe=${3:?}; hex=${4:?}
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../tools/wine
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-wine-pagersim.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sim_pid=

cleanup() {
  [[ -z $sim_pid ]] || kill "$sim_pid" 2>/dev/null || true
  bash "$tools/com-pair.sh" stop "$prefix" com7 com8
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

bash "$tools/com-pair.sh" start "$prefix" com7 com8
# It ends by itself once the pager has left flash mode.
wine "$pagersim" --device COM8 --exit-after-q 1 --image-hex "$(winepath -w "$work/image.hex")" \
  --log "$(winepath -w "$work/pager.log")" </dev/null >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 300); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
[[ $(tr -d '\r' <"$work/sim.out") == COM8 ]] ||
  fail "pagersim.exe did not report its line: $(cat "$work/sim.out" "$work/sim.err")"

code=0
timeout 90 wine "$exe" -b 9600 -p COM7 "$(winepath -w "$hex")" >"$work/out" 2>"$work/err" || code=$?
cat "$work/out" "$work/err"
[[ $code == 0 ]] || fail "tarvex-flash.exe: exit code $code, expected 0"
sim_code=0
wait "$sim_pid" || sim_code=$?
sim_pid=
[[ $sim_code == 0 ]] || fail "pagersim.exe: exit code $sim_code: $(cat "$work/sim.err")"
grep -q '^COM7 .*finished' "$work/out" || fail "the summary does not say COM7 finished"
grep -q ' RX b96006A' "$work/pager.log" || fail "the pager was not told 9600 bit/s"
cmp -s <(python3 "$here/hexdata.py" "$hex") <(python3 "$here/hexdata.py" "$work/image.hex") ||
  fail "the pager does not hold the file's image"
echo PASS
