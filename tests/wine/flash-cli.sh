#!/usr/bin/env bash
# tarvex-flash.exe under Wine against pager emulators behind COM5 and COM6
# (links made by tools/wine/setup-prefix.sh): one pager, or two at once where
# COM6's pager refuses every "p", or one pager with the firmware and the log
# in a folder named in several scripts. Checks the exit code, the summary
# and the image the good pager programmed. In station mode, two pagers one
# after another behind COM7, each flashed once by one --station run.
#
# In tune mode, --tune-adapters on the prefix's FTDI adapter at COM5 and
# its CP210x at COM6.
#
#   tests/wine/flash-cli.sh PREFIX PAGERSIM EXE HEXFILE one|two|names|station|tune
set -euo pipefail
prefix=$(realpath -m "${1:?}"); pagersim=${2:?}; exe=${3:?}; hex=${4:?}; mode=${5:?}
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../tools/wine
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-wine-cli.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine reads the Linux names as UTF-8 and gives the program the ANSI code page
# 1252, which lacks most of the letters of the folder below.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

cleanup() {
  bash "$tools/pager-on-com.sh" stop "$prefix" com5
  bash "$tools/pager-on-com.sh" stop "$prefix" com6
  bash "$tools/pager-on-com.sh" stop "$prefix" com7
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# What a console shows of a run: the program on a pseudo-terminal, where Wine
# gives it a console whose code page is the OEM one (437), not UTF-8. The
# console's cursor moves are taken out, and the blanks it may draw as moves.
# The exit code is not looked at: a failing run is shown as well.
on_console() {
  local command
  printf -v command '%q ' wine "$@"
  { script -qec "stty cols 400; $command" /dev/null || true; } |
    sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' | tr -d ' \r\n'
}

# expect_on_console WANT: WANT, blanks aside, is in what the console showed.
expect_on_console() {
  local want=${1// /}
  [[ $shown == *"$want"* ]] || fail "the console does not show '$1': $shown"
}

if [[ $mode == names ]]; then
  folder=$work/"Łódź 日本 Ωμέγα"
  mkdir -p "$folder"
  cp "$hex" "$folder/fw.hex"
  hex=$folder/fw.hex
  log=$folder/trace.jsonl
  codepages=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' | tr -d '\r')
  grep -qE '^ +ACP +REG_SZ +1252$' <<<"$codepages" || fail "the ANSI code page is not 1252: $codepages"
fi

same_image() {
  cmp -s <(python3 "$here/hexdata.py" "$hex") <(python3 "$here/hexdata.py" "$1")
}

# --tune-adapters over the FTDI driver's settings as the prefix describes
# them: COM5 an FTDI adapter whose timer is 16 ms, COM6 a CP210x. Under Wine
# everyone is an administrator, so every write is allowed.
ftdi_parameters='HKLM\System\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+FT5KQ2R7A\0000\Device Parameters'
latency_timer() {
  wine reg query "$ftdi_parameters" /v LatencyTimer 2>/dev/null | tr -d '\r' |
    awk '$1 == "LatencyTimer" { print $3 }'
}
set_latency_timer() {
  wine reg add "$ftdi_parameters" /v LatencyTimer /t REG_DWORD /d "$1" /f >/dev/null
}
if [[ $mode == tune ]]; then
  # As the prefix describes the adapter, whatever an earlier run left; and
  # so again afterwards, for the other tests on COM5.
  set_latency_timer 16
  trap 'set_latency_timer 16; cleanup' EXIT
  [[ $(latency_timer) == 0x10 ]] || fail "the prefix's FTDI adapter has no 16 ms timer: $(latency_timer)"
  code=0
  wine "$exe" --tune-adapters -p COM6 >"$work/out" 2>"$work/err" || code=$?
  [[ $code == 2 ]] || fail "the CP210x: exit code $code, expected 2"
  # Given beside it, an FTDI adapter is not set either.
  code=0
  wine "$exe" --tune-adapters -p COM5 -p COM6 >"$work/out" 2>"$work/err" || code=$?
  [[ $code == 2 ]] || fail "a CP210x among the ports: exit code $code, expected 2"
  grep -qF "COM6 is not an FTDI adapter (Silicon Labs CP210x USB to UART Bridge)" "$work/err" ||
    fail "a CP210x among the ports: $(cat "$work/out" "$work/err")"
  [[ $(latency_timer) == 0x10 ]] || fail "a CP210x among the ports, yet COM5's timer is $(latency_timer)"
  code=0
  wine "$exe" --tune-adapters -p COM5 >"$work/out" 2>"$work/err" || code=$?
  cat "$work/out" "$work/err"
  [[ $code == 0 ]] || fail "COM5: exit code $code, expected 0"
  [[ $(latency_timer) == 0x1 ]] || fail "COM5's timer reads $(latency_timer) after tuning, not 0x1"
  tr -d '\r' <"$work/out" | grep -qxF "COM5, adapter FT5KQ2R7A: latency timer set from 16 ms to 1 ms." ||
    fail "COM5: the change is not told as old and new"
  grep -qF "Unplug each adapter set above and plug it back in" "$work/out" ||
    fail "COM5: nothing says to replug the adapter"
  # Every FTDI adapter present, none given: COM5 is at 1 ms now.
  code=0
  wine "$exe" --tune-adapters >"$work/out" 2>"$work/err" || code=$?
  [[ $code == 0 ]] || fail "all adapters: exit code $code, expected 0"
  tr -d '\r' <"$work/out" | grep -qxF "COM5, adapter FT5KQ2R7A: latency timer already 1 ms." ||
    fail "all adapters: $(cat "$work/out" "$work/err")"
  echo PASS
  exit 0
fi

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
options=()
expected=0
if [[ $mode == two ]]; then
  bash "$tools/pager-on-com.sh" start "$prefix" com6 "$pagersim" --nak-program 1000
  ports+=(-p COM6)
  expected=8  # rewinds exceeded on COM6
fi
if [[ $mode == names ]]; then options=(--log "$(winepath -w "$log")"); fi

set +e
wine "$exe" "${ports[@]}" -b 9600 "${options[@]}" "$(winepath -w "$hex")" >"$work/out" 2>"$work/err"
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

if [[ $mode == one ]]; then
  # A folder is no port in use by another program, and one port under two
  # names is given twice.
  code=0
  wine "$exe" -p 'C:\windows' "$(winepath -w "$hex")" >"$work/out" 2>"$work/err" || code=$?
  [[ $code == 4 ]] || fail "a folder as the port: exit code $code, expected 4"
  grep -q "It is a folder, not a serial port." "$work/err" || fail "a folder as the port: $(cat "$work/err")"
  code=0
  wine "$exe" -p COM5 -p '\\.\COM5' "$(winepath -w "$hex")" >"$work/out" 2>"$work/err" || code=$?
  [[ $code == 2 ]] || fail "one port under two names: exit code $code, expected 2"
  grep -qF 'the port COM5 is given twice (also as \\.\COM5)' "$work/err" ||
    fail "one port under two names: $(cat "$work/err")"
  # Every spelling that opens COM5 is COM5, and so is its adapter's serial
  # number.
  for spelling in 'COM5:' '\\?\COM5' com05 '//./COM5' '\??\COM5' serial=FT5KQ2R7A; do
    code=0
    wine "$exe" -p COM5 -p "$spelling" "$(winepath -w "$hex")" >"$work/out" 2>"$work/err" || code=$?
    [[ $code == 2 ]] || fail "COM5 and $spelling: exit code $code, expected 2"
    grep -qF "the port COM5 is given twice (also as $spelling)" "$work/err" ||
      fail "COM5 and $spelling: $(cat "$work/err")"
  done
  # A port given as the log is refused before any port opens, a device as
  # the firmware file before it is read.
  code=0
  wine "$exe" -p COM5 --log COM6 "$(winepath -w "$hex")" >"$work/out" 2>"$work/err" || code=$?
  [[ $code == 2 ]] || fail "COM6 as the log: exit code $code, expected 2"
  grep -qF "cannot append to the log COM6: it is the serial port COM6, not a file." "$work/err" ||
    fail "COM6 as the log: $(cat "$work/err")"
  code=0
  wine "$exe" -p COM5 CON.hex >"$work/out" 2>"$work/err" || code=$?
  [[ $code == 3 ]] || fail "CON.hex: exit code $code, expected 3"
  grep -qF "CON.hex is a device, not a firmware file." "$work/err" || fail "CON.hex: $(cat "$work/err")"
fi

if [[ $mode == names ]]; then
  name=$(winepath -w "$hex")
  # The log, in the folder, names the file in UTF-8.
  [[ -f $log ]] || fail "no log at $log"
  [[ $(wc -l <"$log") == 1 ]] || fail "the log does not hold one line for the one pager: $(cat "$log")"
  logged=$(python3 -c 'import json, sys; print(json.loads(open(sys.argv[1], "rb").read())["file"])' "$log") ||
    fail "the log's line is not JSON: $(cat "$log")"
  [[ $logged == "$name" ]] || fail "the log names the file '$logged', not '$name'"
  # A pipe gets the UTF-8 bytes: a port named by a path in the folder.
  port=$(winepath -w "$folder/no-port")
  code=0
  wine "$exe" -p "$port" "$name" >"$work/out" 2>"$work/err" || code=$?
  [[ $code == 4 ]] || fail "a port that is not there: exit code $code, expected 4"
  grep -qF "Can NOT Open \"$port\"" "$work/err" || fail "stderr does not name the port: $(cat "$work/err")"
  grep -qxF "  The port does not exist." <(tr -d '\r' <"$work/err") ||
    fail "stderr does not say why the port cannot be opened: $(cat "$work/err")"
  # A console gets the characters, whatever its code page.
  shown=$(on_console "$exe" --check "$name")
  expect_on_console "$name: OK, no errors found"
  shown=$(on_console "$exe" -p "$port" "$name")
  expect_on_console "Can NOT Open \"$port\""
  expect_on_console "The port does not exist."
  # A file named like a device ("com5.hex" is COM5 to Windows) is no
  # firmware: refused at once, not read from the pager's line.
  bash "$tools/pager-on-com.sh" start "$prefix" com5 "$pagersim"
  code=0
  timeout 60 wine "$exe" --check "$(winepath -w "$folder")\\com5.hex" >"$work/out" 2>"$work/err" ||
    code=$?
  bash "$tools/pager-on-com.sh" stop "$prefix" com5
  [[ $code == 3 ]] || fail "a file named like a device: exit code $code, expected 3: $(cat "$work/err")"
  grep -q "com5.hex is a device, not a firmware file." "$work/err" ||
    fail "stderr does not say why: $(cat "$work/err")"
fi
echo PASS
