#!/usr/bin/env bash
# tarvex-flash.exe under Wine against pager emulators behind COM5 and COM6
# (links made by tools/wine/setup-prefix.sh): one pager, or two at once where
# COM6's pager refuses every "p". Checks the exit code, the summary and the
# image the good pager programmed. In station mode, two pagers one after
# another behind COM7, each flashed once by one --station run.
#
#   tests/wine/flash-cli.sh PREFIX PAGERSIM EXE HEXFILE one|two|station
set -euo pipefail
prefix=$(realpath -m "${1:?}"); pagersim=${2:?}; exe=${3:?}; hex=${4:?}; mode=${5:?}
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../tools/wine
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-wine-cli.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  bash "$tools/pager-on-com.sh" stop "$prefix" com5
  bash "$tools/pager-on-com.sh" stop "$prefix" com6
  bash "$tools/pager-on-com.sh" stop "$prefix" com7
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

same_image() {
  cmp -s <(python3 "$here/hexdata.py" "$hex") <(python3 "$here/hexdata.py" "$1")
}

if [[ $mode == station ]]; then
  # Each pager stays on the cable 2 s after its "q", then the cable is empty
  # long enough for the station to see it gone.
  bash "$tools/pager-on-com.sh" start "$prefix" com7 "$pagersim" --sessions 2 --linger-ms 2000 \
    --gap-ms 6000 --image-hex "$work/com7-%d.hex" --log "$work/com7.log"
  set +e
  wine "$exe" --station -p COM7 --count 2 -b 9600 --log "$(winepath -w "$work/station.log")" \
    "$(winepath -w "$hex")" >"$work/out" 2>"$work/err"
  code=$?
  set -e
  cat "$work/out" "$work/err"
  bash "$tools/pager-on-com.sh" stop "$prefix" com7  # writes the images
  [[ $code == 0 ]] || fail "exit code $code, expected 0"
  tr -d '\r' <"$work/out" | grep -qE '^COM7 .* 2 +0$' || fail "the summary does not say COM7 finished two"
  [[ $(grep -c '"outcome":"finished"' "$work/station.log") == 2 ]] ||
    fail "the log does not hold two finished pagers"
  for pager in 1 2; do
    same_image "$work/com7-$pager.hex" || fail "pager $pager does not hold the file's image"
  done
  [[ $(grep -c 'INFO erase' "$work/com7.log") == 2 ]] || fail "a pager was erased more than once"
  echo PASS
  exit 0
fi

bash "$tools/pager-on-com.sh" start "$prefix" com5 "$pagersim" --image-hex "$work/com5.hex"
ports=(-p COM5)
expected=0
if [[ $mode == two ]]; then
  bash "$tools/pager-on-com.sh" start "$prefix" com6 "$pagersim" --nak-program 1000
  ports+=(-p COM6)
  expected=8  # rewinds exceeded on COM6
fi

set +e
wine "$exe" "${ports[@]}" -b 9600 "$(winepath -w "$hex")" >"$work/out" 2>"$work/err"
code=$?
set -e
cat "$work/out" "$work/err"
bash "$tools/pager-on-com.sh" stop "$prefix" com5  # writes the image

[[ $code == "$expected" ]] || fail "exit code $code, expected $expected"
grep -q '^COM5 .*finished' "$work/out" || fail "the summary does not say COM5 finished"
if [[ $mode == two ]]; then
  grep -q '^COM6 .*rewinds-exceeded' "$work/out" || fail "the summary does not name COM6's failure"
fi
same_image "$work/com5.hex" || fail "COM5's pager does not hold the file's image"
echo PASS
