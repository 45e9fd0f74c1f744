#!/usr/bin/env bash
# End-to-end tests of TarvexBench.exe under Wine: the program runs on a
# virtual X display with pager emulators behind COM5 and COM6, each playing
# pagers connected one after another, is driven as a technician would drive
# it (its factory command line, F5, closing the window), and is checked from
# outside: its window (read by tarvex-bench-probe.exe), its settings file
# and log, and the emulators' logs and flash images.
#
#   tests/benchwin/wine/run-bench-e2e.sh [--build-dir DIR] [--pagersim FILE] [--probe EXE]
#                                        [--exe EXE] [--prefix DIR] [--work-dir DIR]
#                                        [--screenshots DIR] [--only NAME]...
#
# Defaults: build/windows, build/linux/tools/pagersim/pagersim,
# BUILD_DIR/tests/benchwin/wine/tarvex-bench-probe.exe,
# BUILD_DIR/benchwin/TarvexBench.exe, BUILD_DIR/wineprefix-e2e (the update
# window's run uses it too), BUILD_DIR/bench-e2e (emptied first),
# BUILD_DIR/screenshots (bench-running.png: tiles mid-run with one red;
# bench-totals.png: the totals after a run).
# --only runs the named cases (count, stop, close, again, choose, badline).
# Prints PASS or FAIL for each case and ends with "N passed, M failed"; the
# exit code is 0 only when every case passed.
set -uo pipefail

root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$root/build/windows
pagersim=$root/build/linux/tools/pagersim/pagersim
probe_exe=
exe=
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
    --prefix) prefix=$(realpath -m "$2"); shift 2 ;;
    --work-dir) work=$(realpath -m "$2"); shift 2 ;;
    --screenshots) shots=$(realpath -m "$2"); shift 2 ;;
    --only) only+=("$2"); shift 2 ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-bench-e2e.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
probe_exe=${probe_exe:-$build/tests/benchwin/wine/tarvex-bench-probe.exe}
exe=${exe:-$build/benchwin/TarvexBench.exe}
prefix=${prefix:-$build/wineprefix-e2e}
work=${work:-$build/bench-e2e}
shots=${shots:-$build/screenshots}

# shellcheck source=tests/wine/e2e-lib.sh
source "$root/tests/wine/e2e-lib.sh"

e2e_fresh_work_dir run-bench-e2e.sh "$work"
e2e_init "$root" "$build" "$pagersim" "$prefix" "$work" "$probe_exe"
# The library drives a window program and reads it with a probe: this one.
E2E_EXE=$exe
e2e_require Xvfb xdotool import wine wineserver python3
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
  e2e_drop_file "$dir/run/bad.hex" || fail "the drop did not finish"
  out=$(probe press OK 10000)
  [[ $(value_of text "$out") == 'Unable to open the HEX file.\nLine 3: checksum mismatch.\n\n'*'bad.hex' ]] ||
    fail "the refusal does not name the line: $out"
  state=$(probe state)
  expect "the refused file's figures" "$(value_of figures "$state")" \
    "Unable to open the HEX file. Line 3: checksum mismatch."
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

e2e_case_cleanup() {
  e2e_pager_stop com5 2>/dev/null
  e2e_pager_stop com6 2>/dev/null
}

run_case count
run_case stop
run_case close
run_case again
run_case choose
run_case badline

e2e_summary
