#!/usr/bin/env bash
# End-to-end tests of TarvexBench.exe under Wine: the program runs on a
# virtual X display with pager emulators behind COM5 and COM6, each playing
# pagers connected one after another, is driven as a technician would drive
# it (its factory command line, F5, closing the window), and is checked from
# outside: its window (read by tarvex-bench-probe.exe), its settings file
# and log, and the emulators' logs and flash images.
#
#   tests/benchwin/wine/run-bench-e2e.sh [--build-dir DIR] [--pagersim FILE] [--probe EXE]
#                                        [--exe EXE] [--flasher EXE] [--job-maker FILE]
#                                        [--prefix DIR]
#                                        [--work-dir DIR] [--screenshots DIR] [--only NAME]...
#
# Defaults: build/windows, build/linux/tools/pagersim/pagersim,
# build/linux/cli/tarvex-flash (the native one, which makes the job),
# BUILD_DIR/tests/benchwin/wine/tarvex-bench-probe.exe,
# BUILD_DIR/benchwin/TarvexBench.exe, BUILD_DIR/cli/tarvex-flash.exe (which
# Tune adapters… runs from the bench's folder), BUILD_DIR/wineprefix-e2e (the update
# window's run uses it too), BUILD_DIR/bench-e2e (emptied first),
# BUILD_DIR/screenshots (bench-running.png: tiles mid-run with one red;
# bench-totals.png: the totals after a run).
# --only runs the named cases (count, stop, close, again, choose, ports, badline, tune, job).
# Prints PASS or FAIL for each case and ends with "N passed, M failed"; the
# exit code is 0 only when every case passed.
set -uo pipefail

root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$root/build/windows
pagersim=$root/build/linux/tools/pagersim/pagersim
job_maker=$root/build/linux/cli/tarvex-flash
probe_exe=
exe=
flasher=
prefix=
work=
shots=
only=()

while (($#)); do
  case $1 in
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --pagersim) pagersim=$(realpath -m "$2"); shift 2 ;;
    --probe) probe_exe=$(realpath -m "$2"); shift 2 ;;
    --exe) exe=$(realpath -m "$2"); shift 2 ;;
    --flasher) flasher=$(realpath -m "$2"); shift 2 ;;
    --job-maker) job_maker=$(realpath -m "$2"); shift 2 ;;
    --prefix) prefix=$(realpath -m "$2"); shift 2 ;;
    --work-dir) work=$(realpath -m "$2"); shift 2 ;;
    --screenshots) shots=$(realpath -m "$2"); shift 2 ;;
    --only) only+=("$2"); shift 2 ;;
    -h|--help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-bench-e2e.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
probe_exe=${probe_exe:-$build/tests/benchwin/wine/tarvex-bench-probe.exe}
exe=${exe:-$build/benchwin/TarvexBench.exe}
flasher=${flasher:-$build/cli/tarvex-flash.exe}
prefix=${prefix:-$build/wineprefix-e2e}
work=${work:-$build/bench-e2e}
shots=${shots:-$build/screenshots}

# shellcheck source=tests/wine/e2e-lib.sh
source "$root/tests/wine/e2e-lib.sh"

e2e_fresh_work_dir run-bench-e2e.sh "$work"
e2e_init "$root" "$build" "$pagersim" "$prefix" "$work" "$probe_exe"
# The library drives a window program and reads it with a probe: this one.
E2E_EXE=$exe
e2e_require Xvfb xdotool import wine wineserver python3 openssl
[[ -f $probe_exe ]] || e2e_die "no $probe_exe (build the target tarvex_bench_probe)"
e2e_build_dropper
e2e_start_xvfb
e2e_prepare_prefix desktop

files=$work/files
mkdir -p "$files" "$shots"
sample=$root/samples/pager-demo.hex
# A short image for the run of four pagers.
python3 "$root/samples/make-sample-hex.py" --size 600 --seed 0x2323 --out "$files/short.hex"

same_data() {
  cmp -s <(python3 "$E2E_LIB_DIR/hexdata.py" "$1") <(python3 "$E2E_LIB_DIR/hexdata.py" "$2")
}

# The pager left on the cable is out of flash mode: its loader's last word
# on the matter was "idle".
expect_out_of_flash_mode() {
  local log=$1 last
  last=$(grep -E '^[0-9]+ INFO (flash mode|idle)$' "$log" | tail -n1 | cut -d' ' -f3-)
  expect "the last mode of the pager in $(basename "$(dirname "$log")")" "$last" idle
}

# wait_until SECONDS TEST...: polls the window until the shell test, run
# with $state holding the probe's state, holds; the state is left in $state.
wait_until() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 4))); do
    state=$(probe state)
    if eval "$*"; then return 0; fi
    sleep 0.25
  done
  e2e_note "gave up waiting for: $* (state: ${state//$'\n'/ | })"
  return 1
}

# The percentage a tile's state shows, or 0.
tile_percent() {
  local tile
  tile=$(value_of "tile$1" "$state")
  IFS='|' read -r _ _ percent _ <<<"$tile"
  echo "${percent:-0}"
}

tile_field() {
  local fields
  IFS='|' read -r -a fields <<<"$(value_of "tile$1" "$state")"
  echo "${fields[$2]:-}"
}

# bench_screenshot OUT.png: the window and a margin.
bench_screenshot() {
  local window x y w h margin=12
  window=$(value_of window "$(probe rects)")
  IFS=, read -r x y w h <<<"$window"
  import -window root -crop "$((w + 2 * margin))x$((h + 2 * margin))+$((x - margin))+$((y - margin))" \
    +repage "$1" || fail "no screenshot $1"
}

close_window() {
  keys alt+f x
  e2e_app_wait_exit 30 || { fail "File, Exit did not end the program"; e2e_app_kill; }
}

# --- /run /count 4: four pagers on two ports, each flashed once ---------------
case_count() {
  local dir=$work/count port images ini
  mkdir -p "$dir/run"
  cp "$files/short.hex" "$dir/run/fw.hex"
  printf 'StationName=LINE3-B2\r\n' >"$dir/run/TARVEXBENCH.INI"
  for port in com5 com6; do
    e2e_pager_start "$port" "$dir/$port" --pace --sessions 2 --linger-ms 1500 --gap-ms 1500 \
      --image-hex "$dir/$port/pager-%d.hex" || { fail "emulator on $port did not start"; return 1; }
  done
  e2e_app_start "$dir/run" /run /count 4 /log bench.jsonl fw.hex COM5 COM6 ||
    { fail "the bench window did not appear"; return 1; }
  wait_until 150 '[[ $(value_of status "$state") == *"count of 4 is reached."* ]]' ||
    fail "the run did not end at four pagers: $(value_of status "$state")"
  expect "status" "$(value_of status "$state")" "4 pagers finished: the count of 4 is reached."
  expect "finished" "$(value_of finished "$state")" "Finished 4"
  expect "failed" "$(value_of failed "$state")" "Failed 0"
  expect "yield" "$(value_of yield "$state")" "Yield 100.0 %"
  expect "Start after the run" "$(value_of start "$state")" enabled
  expect "COM5's tile" "$(tile_field 0 1)" stopped
  expect "the last outcome's colour" "$(value_of tile0_colour "$state")" green
  bench_screenshot "$shots/bench-totals.png"
  close_window
  ini=$(tr -d '\r' <"$dir/run/TARVEXBENCH.INI")
  [[ $ini == *$'\nPorts=COM5,COM6\n'* ]] || fail "the settings do not keep the ports: $ini"
  [[ $ini == *'fw.hex'* ]] || fail "the settings do not keep the firmware: $ini"
  [[ $ini == *$'\nStationName=LINE3-B2\n'* ]] || fail "the settings do not keep the name: $ini"
  for port in com5 com6; do
    e2e_pager_stop "$port"
    images=0
    for image in "$dir/$port"/pager-*.hex; do
      [[ -f $image ]] || continue
      ((images++))
      same_data "$dir/run/fw.hex" "$image" || fail "$image does not hold the firmware"
    done
    expect "pagers flashed on $port" "$images" 2
    expect "erases on $port (each pager once)" "$(grep -c ' INFO erase$' "$dir/$port/pager.log")" 2
  done
  expect "finished lines in the log" "$(grep -c '"outcome":"finished"' "$dir/run/bench.jsonl")" 4
  expect "the log's pager numbers" \
    "$(grep -o '"number":[0-9]*' "$dir/run/bench.jsonl" | cut -d: -f2 | sort -n | tr '\n' ' ')" \
    "1 2 3 4 "
  expect "the log's record ids, each its own" \
    "$(grep -oE '"record_id":"[0-9a-f-]{36}"' "$dir/run/bench.jsonl" | sort -u | wc -l)" 4
  expect "the log's station" "$(grep -o '"station":"[^"]*"' "$dir/run/bench.jsonl" | sort -u)" \
    '"station":"LINE3-B2"'
  report "/run /count 4 on COM5 and COM6: four pagers flashed once each, right, logged; totals stay"
}

# --- Stop during a transfer, with a red tile beside it ---------------------------
case_stop() {
  local dir=$work/stop
  mkdir -p "$dir/run"
  cp "$sample" "$dir/run/pager-demo.hex"
  e2e_pager_start com5 "$dir/com5" --pace || { fail "emulator on COM5 did not start"; return 1; }
  # Its pager refuses every program command: a red tile.
  e2e_pager_start com6 "$dir/com6" --pace --nak-program 1000 ||
    { fail "emulator on COM6 did not start"; return 1; }
  e2e_app_start "$dir/run" /run pager-demo.hex COM5 COM6 ||
    { fail "the bench window did not appear"; return 1; }
  wait_until 60 '[[ $(value_of tile1_colour "$state") == red ]] && (($(tile_percent 0) >= 25))' ||
    fail "no red tile beside a transfer a quarter through"
  # Which port's pager came first, and got #1, is the ports' race.
  [[ $(tile_field 1 4) == "#"[12]" failed "* ]] || fail "COM6's tile does not say its pager failed"
  expect "why COM6's pager failed" "$(tile_field 1 5)" \
    "Max. rewind counter exceed but still unable to program code-package."
  expect "what to do about it" "$(tile_field 1 6)" \
    "The pager could not program its flash: set the pager aside and try another cable."
  bench_screenshot "$shots/bench-running.png"
  keys F5
  wait_until 30 '[[ $(value_of status "$state") == Stopped:* ]]' ||
    fail "F5 did not stop the bench: $(value_of status "$state")"
  [[ $(tile_field 0 4) == "#"[12]" failed "* ]] || fail "COM5's tile does not say its pager failed"
  expect "why COM5's pager failed" "$(tile_field 0 5)" "Interrupted. The pager's flash was erased: flash it again."
  expect "failed after Stop" "$(value_of failed "$state")" "Failed 2"
  close_window
  e2e_pager_stop com5
  e2e_pager_stop com6
  expect_out_of_flash_mode "$dir/com5/pager.log"
  expect_out_of_flash_mode "$dir/com6/pager.log"
  report "a red tile beside a transfer; F5 stops it and every pager leaves flash mode"
}

# --- closing the window during a transfer ------------------------------------------
case_close() {
  local dir=$work/close out before
  mkdir -p "$dir/run"
  cp "$sample" "$dir/run/pager-demo.hex"
  for port in com5 com6; do
    e2e_pager_start "$port" "$dir/$port" --pace || { fail "emulator on $port did not start"; return 1; }
  done
  e2e_app_start "$dir/run" /run pager-demo.hex COM5 COM6 ||
    { fail "the bench window did not appear"; return 1; }
  wait_until 60 '(($(tile_percent 0) >= 10 && $(tile_percent 1) >= 10))' ||
    fail "the two transfers did not start"
  keys alt+F4
  out=$(probe press No 10000)
  expect "the question" "$(value_of text "$out")" \
    'Pagers are being flashed. Stop the bench and close the window?\nEach pager in flash mode is told to leave it first.'
  expect "its buttons" "$(value_of buttons "$out")" "&Yes,&No"
  before=$(tile_percent 0)
  sleep 1
  state=$(probe state)
  (($(tile_percent 0) > before)) || fail "No did not leave the transfer running ($before then $(tile_percent 0))"
  keys alt+F4
  out=$(probe press-then-gone Yes 30000)
  [[ $(value_of pressed "$out") == yes ]] || fail "no question the second time: $out"
  [[ $(value_of main "$out") == gone ]] || fail "the window did not close after Yes"
  e2e_note "the window closed $(value_of gone_ms "$out") ms after Yes"
  (($(value_of gone_ms "$out") <= 2000)) ||
    fail "the window closed $(value_of gone_ms "$out") ms after Yes, not within 2 s"
  e2e_app_wait_exit 15 || { fail "the program did not end"; e2e_app_kill; }
  e2e_pager_stop com5
  e2e_pager_stop com6
  expect_out_of_flash_mode "$dir/com5/pager.log"
  expect_out_of_flash_mode "$dir/com6/pager.log"
  for port in com5 com6; do
    expect "the last command on $port" "$(grep -E '^[0-9]+ RX ' "$dir/$port/pager.log" | tail -n1 |
      cut -d' ' -f3-)" q
  done
  report "closing during a transfer asks; No goes on, Yes stops every pager out of flash mode and closes within 2 s"
}

# --- a flashed pager left on the cable: not flashed again after F5, F5, nor
# after a reached /count 1 and F5 --------------------------------------------------
case_again() {
  local dir=$work/again
  mkdir -p "$dir/run"
  cp "$files/short.hex" "$dir/run/fw.hex"
  # One pager that stays on the cable.
  e2e_pager_start com5 "$dir/com5" --pace || { fail "emulator on COM5 did not start"; return 1; }
  e2e_app_start "$dir/run" /run /count 1 /log bench.jsonl fw.hex COM5 ||
    { fail "the bench window did not appear"; return 1; }
  wait_until 120 '[[ $(value_of status "$state") == *"count of 1 is reached."* ]]' ||
    fail "the run did not end at one pager: $(value_of status "$state")"
  keys F5
  wait_until 30 '[[ $(tile_field 0 1) == "remove pager #1"* ]]' ||
    fail "Start after the count does not wait for the pager on the cable: $(tile_field 0 1)"
  sleep 3
  keys F5
  wait_until 30 '[[ $(value_of status "$state") == Stopped:* ]]' || fail "F5 did not stop the bench"
  keys F5
  sleep 3
  state=$(probe state)
  expect "COM5's tile after F5, F5" "$(tile_field 0 1)" "remove pager #1"
  keys F5
  wait_until 30 '[[ $(value_of status "$state") == Stopped:* ]]' || fail "F5 did not stop the bench"
  close_window
  e2e_pager_stop com5
  expect "erases of the one pager" "$(grep -c ' INFO erase$' "$dir/com5/pager.log")" 1
  expect "lines in the log" "$(grep -c '"outcome"' "$dir/run/bench.jsonl")" 1
  report "a flashed pager left on the cable is not flashed again after /count 1 and F5, nor after F5, F5"
}

# --- the firmware dropped on the window: refused when unsound, shown when sound ---
case_choose() {
  local dir=$work/choose out digest
  mkdir -p "$dir/run"
  cp "$sample" "$dir/run/pager-demo.hex"
  # The third line's checksum off by one.
  python3 -c 'import sys
lines = open(sys.argv[1], "rb").read().split(b"\r\n")
last = lines[2][-1:]
lines[2] = lines[2][:-1] + (b"1" if last != b"1" else b"2")
open(sys.argv[2], "wb").write(b"\r\n".join(lines))' "$sample" "$dir/run/bad.hex"
  e2e_app_start "$dir/run" COM5 || { fail "the bench window did not appear"; return 1; }
  state=$(probe state)
  expect "the status without a firmware" "$(value_of status "$state")" \
    "Choose the firmware first: File, Open..., or drop a HEX file on the window."
  # The update window's shortcuts for the rate.
  keys ctrl+l
  expect "the rate after Ctrl+L" "$(value_of setup "$(probe state)")" '2400 bit/s\n3 resends'
  keys ctrl+h
  expect "the rate after Ctrl+H" "$(value_of setup "$(probe state)")" '9600 bit/s\n3 resends'
  e2e_drop_file "$dir/run/bad.hex" || fail "the drop did not finish"
  out=$(probe press OK 10000)
  [[ $(value_of text "$out") == 'The HEX file has an error.\nLine 3: checksum mismatch.\n\n'*'bad.hex\n\nThe file is damaged'* ]] ||
    fail "the refusal does not name the line and what to do: $out"
  state=$(probe state)
  expect "the refused file's figures" "$(value_of figures "$state")" \
    "The HEX file has an error. Line 3: checksum mismatch."
  keys F5
  out=$(probe press OK 10000)
  expect "Start without a sound file" "$(value_of text "$out")" \
    "Choose the firmware first: File, Open..., or drop a HEX file on the window."
  state=$(probe state)
  expect "Stop after the refused Start" "$(value_of stop "$state")" disabled
  [[ -z $(value_of tile0 "$state") ]] || fail "a tile after the refused Start"
  e2e_drop_file "$dir/run/pager-demo.hex" || fail "the drop did not finish"
  state=$(probe state)
  digest=$(sha256sum "$sample" | cut -c1-64)
  expect "the file's name" "$(value_of firmware "$state")" pager-demo.hex
  expect "its figures" "$(value_of figures "$state")" "164 records, 2600 data bytes, 00010000-00010A27"
  expect "its digest, short" "$(value_of sha "$state")" "SHA-256 ${digest:0:16}…"
  keys alt+f d
  out=$(probe press OK 10000)
  [[ $(value_of text "$out") == *"\nSHA-256\n$digest" ]] || fail "the details box lacks the digest: $out"
  close_window
  report "a dropped file: refused with its line number and nothing starts; a sound one shows its figures and digest"
}

# --- more ticked ports than the list shows: it says which are out of view ---------
case_ports() {
  local dir=$work/ports port ports=()
  mkdir -p "$dir/run"
  for port in $(seq 20 31); do ports+=("COM$port"); done
  e2e_app_start "$dir/run" "${ports[@]}" || { fail "the bench window did not appear"; return 1; }
  state=$(probe state)
  [[ $(value_of ports_note "$state") =~ ^[0-9]+\ ticked\ ports\ out\ of\ view:\ .*COM ]] ||
    fail "the list does not say which ticked ports are out of view: $(value_of ports_note "$state")"
  close_window
  report "ticked ports below the list's last row are named under it"
}

# --- a bad command line ---------------------------------------------------------------
case_badline() {
  local dir=$work/badline out code=0 pid
  mkdir -p "$dir"
  (cd "$dir" && exec wine "$E2E_EXE" /run /count x) >>"$work/app.out" 2>&1 </dev/null &
  pid=$!
  out=$(probe press OK 30000)
  [[ $(value_of text "$out") == '/count needs a number of pagers from 1 to 1000000, not x.\n\nTarvexBench.exe [/run]'* ]] ||
    fail "the box does not name the fault and the usage: $out"
  E2E_APP_PID=$pid
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "the program went on after the box"
    e2e_app_kill
  else
    wait "$pid" || code=$?
    E2E_APP_PID=
    expect "exit code" "$code" 2
  fi
  [[ ! -e $dir/TARVEXBENCH.INI ]] || fail "a refused command line wrote the settings"
  report "a bad command line: a box naming the fault, and no window"
}

# --- Tune adapters… ---------------------------------------------------------
# The prefix's FTDI adapter at COM5 runs on the driver's 16 ms: Setup, Tune
# adapters… names it with its timer, runs tarvex-flash.exe from the bench's
# folder once the user says yes (Wine asks no consent), and then tells the
# new timer and to replug the adapter.
ftdi_parameters='HKLM\System\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+FT5KQ2R7A\0000\Device Parameters'
set_latency_timer() {
  wine reg add "$ftdi_parameters" /v LatencyTimer /t REG_DWORD /d "$1" /f >/dev/null
}
latency_timer() {
  wine reg query "$ftdi_parameters" /v LatencyTimer 2>/dev/null | tr -d '\r' |
    awk '$1 == "LatencyTimer" { print $3 }'
}

case_tune() {
  local dir=$work/tune out state
  mkdir -p "$dir/bin" "$dir/run"
  cp "$exe" "$flasher" "$dir/bin/"
  set_latency_timer 16
  E2E_EXE=$dir/bin/TarvexBench.exe
  e2e_app_start "$dir/run" || { E2E_EXE=$exe; fail "the bench window did not appear"; return 1; }
  E2E_EXE=$exe
  keys alt+s t
  out=$(probe press Yes 10000)
  [[ $(value_of text "$out") == 'Set the latency timer of these adapters to 1 ms?\n\nCOM5, adapter FT5KQ2R7A: now 16 ms\n\n'* ]] ||
    fail "the question does not name COM5 and its timer: $out"
  out=$(probe press OK 30000)
  [[ $(value_of text "$out") == 'COM5, adapter FT5KQ2R7A: latency timer 16 ms, now 1 ms.\n\nNow unplug each adapter and plug it back in'* ]] ||
    fail "the outcome does not tell the new timer and the replug: $out"
  expect "COM5's timer in the registry" "$(latency_timer)" 0x1
  state=$(probe state)
  expect "the status line" "$(value_of status "$state")" \
    "Latency timers set to 1 ms: unplug each adapter and plug it back in."
  close_window
  set_latency_timer 16
  report "Tune adapters…: COM5 named with its 16 ms, set to 1 ms by tarvex-flash.exe beside the bench, the replug told"
}

# --- /run under a signed job of two: two pagers on each port, two flashed -------------
case_job() {
  local dir=$work/job port erases=0
  mkdir -p "$dir/run" "$dir/state"
  cp "$files/short.hex" "$dir/run/fw.hex"
  [[ -x $job_maker ]] || { fail "no $job_maker (build the linux preset's tarvex-flash)"; return 1; }
  (cd "$dir/run" &&
    openssl ecparam -name prime256v1 -genkey -noout -out eng-key.pem &&
    openssl ec -in eng-key.pem -pubout -out eng-pub.pem &&
    "$job_maker" --make-job job.json --quota 2 --job-name line3 -b 9600 fw.hex &&
    openssl dgst -sha256 -sign eng-key.pem -out job.json.sig job.json) >>"$work/app.out" 2>&1 ||
    { fail "the job could not be made and signed"; return 1; }
  for port in com5 com6; do
    e2e_pager_start "$port" "$dir/$port" --pace --sessions 2 --linger-ms 1500 --gap-ms 1500 ||
      { fail "emulator on $port did not start"; return 1; }
  done
  # The job's count in a folder of this run, not the prefix's ProgramData.
  export TARVEX_STATE_DIR="Z:${dir//\//\\}\\state"
  e2e_app_start "$dir/run" /run /job job.json /jobkey eng-pub.pem /log bench.jsonl fw.hex COM5 COM6 ||
    { fail "the bench window did not appear"; unset TARVEX_STATE_DIR; return 1; }
  unset TARVEX_STATE_DIR
  wait_until 150 '[[ $(value_of status "$state") == "quota reached: 2 of 2"* ]]' ||
    fail "the run did not end at the job's quota: $(value_of status "$state")"
  expect "the firmware's frame" "$(value_of firmware_frame "$state")" \
    "Firmware of job line3: 0 of 2 left, no expiry"
  expect "finished" "$(value_of finished "$state")" "Finished 2"
  close_window
  for port in com5 com6; do
    e2e_pager_stop "$port"
    ((erases += $(grep -c ' INFO erase$' "$dir/$port/pager.log")))
  done
  expect "pagers erased on both ports" "$erases" 2
  expect "finished lines in the log" "$(grep -c '"outcome":"finished"' "$dir/run/bench.jsonl")" 2
  expect "lines naming the job" "$(grep -c '"job":"line3"' "$dir/run/bench.jsonl")" 2
  [[ -n $(ls "$dir/state") ]] || fail "no count kept in TARVEX_STATE_DIR"
  report "/run /job with a quota of 2 on COM5 and COM6, two pagers each: exactly two flashed and logged"
}

e2e_case_cleanup() {
  e2e_pager_stop com5 2>/dev/null
  e2e_pager_stop com6 2>/dev/null
}

run_case count
run_case stop
run_case close
run_case again
run_case choose
run_case ports
run_case badline
run_case tune
run_case job

e2e_summary
