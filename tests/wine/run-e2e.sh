#!/usr/bin/env bash
# End-to-end tests of TarvexUpd.exe under Wine: the program runs on a virtual
# X display with the pager emulator behind COM1 and COM2, is driven with key
# strokes as a person would drive it, and is checked from outside: its window
# (read by tarvex-probe.exe), its settings file, and the emulator's log and
# flash image.
#
#   tests/wine/run-e2e.sh [--build-dir DIR] [--pagersim FILE] [--prefix DIR]
#                         [--work-dir DIR] [--screenshots DIR] [--probe EXE]
#                         [--only NAME]...
#
# Defaults: build/windows, build/linux/tools/pagersim/pagersim,
# BUILD_DIR/wineprefix-e2e, BUILD_DIR/e2e (emptied first), BUILD_DIR/screenshots
# (transfer.png, the window mid-transfer; comm-port-menu.png, the Comm Port
# submenu with a port listed and a gone one).
# --only runs the named cases (normal, settings, nofile, silent, close,
# listed, absent, names, pulled).
# Prints PASS or FAIL for each case and ends with "N passed, M failed"; the
# exit code is 0 only when every case passed.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/windows
pagersim=$root/build/linux/tools/pagersim/pagersim
prefix=
work=
shots=
probe_exe=
only=()

while (($#)); do
  case $1 in
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --pagersim) pagersim=$(realpath -m "$2"); shift 2 ;;
    --prefix) prefix=$(realpath -m "$2"); shift 2 ;;
    --work-dir) work=$(realpath -m "$2"); shift 2 ;;
    --screenshots) shots=$(realpath -m "$2"); shift 2 ;;
    --probe) probe_exe=$(realpath -m "$2"); shift 2 ;;
    --only) only+=("$2"); shift 2 ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-e2e.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
prefix=${prefix:-$build/wineprefix-e2e}
work=${work:-$build/e2e}
shots=${shots:-$build/screenshots}

# shellcheck source=tests/wine/e2e-lib.sh
source "$root/tests/wine/e2e-lib.sh"

e2e_fresh_work_dir run-e2e.sh "$work"
e2e_init "$root" "$build" "$pagersim" "$prefix" "$work" "$probe_exe"
e2e_require Xvfb xdotool import convert wine wineserver python3
e2e_build_probe
e2e_build_dropper
e2e_start_xvfb
e2e_prepare_prefix desktop

readonly CRLF=$'\r\n'
readonly FINISHED="Firmware updated finished."
readonly CAPTION="Tarvex Flasher"

files=$work/files
mkdir -p "$files" "$shots"
# The bundled sample, and a shorter image for the cases that need several
# transfers: both with an extended address record and a short last record.
sample=$root/samples/pager-demo.hex
python3 "$root/samples/make-sample-hex.py" --size 600 --seed 0x1234 --out "$files/update.hex"

# The exact bytes of a file, escaped, for comparing with an expectation.
bytes_of() {
  if [[ -f $1 ]]; then od -An -c "$1" | tr -s ' \n' ' '; else echo "<no file>"; fi
}

expect_settings() {
  local file=$1 want=$2
  expect "$3" "$(bytes_of "$file")" "$(printf '%s' "$want" | od -An -c | tr -s ' \n' ' ')"
}

# Compares the data of the HEX file with what the emulator programmed.
expect_image() {
  local hex=$1 image=$2
  if [[ ! -s $image ]]; then
    fail "the emulator wrote no image"
    return
  fi
  if ! cmp -s <(python3 "$E2E_LIB_DIR/hexdata.py" "$hex") <(python3 "$E2E_LIB_DIR/hexdata.py" "$image"); then
    fail "the emulator's image differs from the data of $(basename "$hex") (see $image)"
  fi
}

# log_count LOG EVENT: how many lines of the emulator log carry EVENT.
log_count() {
  [[ -f $1 ]] || { echo 0; return; }
  grep -c -E "^[0-9]+ $2\$" "$1"
}

expect_no_log_errors() {
  local errors
  errors=$(grep -E '^[0-9]+ ERR ' "$1" 2>/dev/null | head -n3)
  [[ -z $errors ]] || fail "emulator log has errors: ${errors//$'\n'/ | }"
}

# The checked rows of the three Setup submenus, as "COM BAUD RESEND" row
# numbers, read off the open menus.
menu_marks() {
  local comm baud resend
  keys alt+s c
  comm=$(value_of checked "$(probe popup 4 5000)")
  keys Escape Escape Escape alt+s b
  baud=$(value_of checked "$(probe popup 3 5000)")
  keys Escape Escape Escape alt+s s
  resend=$(value_of checked "$(probe popup 3 5000)")
  keys Escape Escape Escape
  echo "${comm:-?} ${baud:-?} ${resend:-?}"
}

# Dismisses the open box with Enter, as a person would.
dismiss_with_enter() {
  keys Return
  if ! probe nobox 5000 >/dev/null; then
    fail "Enter did not dismiss the box"
    probe ok 2000 >/dev/null
  fi
}

expect_idle_window() {
  local state
  state=$(e2e_wait_state percent "0%" 5)
  expect "progress bar after the update" "$(value_of progress "$state")" 0
  expect "percentage after the update" "$(value_of percent "$state")" "0%"
  expect "UpDate button after the update" "$(value_of button "$state")" enabled
}

close_with_file_exit() {
  keys alt+f x
  e2e_app_wait_exit 15 || { fail "File, Exit did not end the program"; e2e_app_kill; }
}

# --- normal update --------------------------------------------------------
case_normal() {
  local dir=$work/normal state focus watch_pid shot_rect fill before after
  e2e_pager_start com1 "$dir" --delay 20 || { fail "emulator did not start"; return 1; }
  e2e_app_start "$dir/run" || { fail "main window did not appear"; return 1; }

  state=$(probe state)
  expect "file name at start" "$(value_of file "$state")" ""
  expect "percentage at start" "$(value_of percent "$state")" "0%"

  local typed
  typed=$(e2e_windows_path "$sample")
  e2e_open_file "$typed" || { fail "File, Open... did not take $typed"; return 1; }
  state=$(probe state)
  expect "file name after File, Open..." "$(value_of file "$state")" "${typed//\\/\\\\}"
  focus=$(value_of focus "$(probe focus)")
  expect "focus after File, Open..." "$focus" "Button 302"

  keys ctrl+u
  # Straight into the file, so each sample is there as soon as it is taken.
  wine "$E2E_PROBE" watch 120000 >"$dir/watch.raw" 2>>"$E2E_LOG" &
  watch_pid=$!

  # In the middle of the transfer: a picture of the window, and a second
  # Update command, which must not start another update.
  local position=0
  for _ in $(seq 600); do
    position=$(tr -d '\r' <"$dir/watch.raw" | sed -n 's/^sample=\([0-9]*\) .*/\1/p' | tail -n1)
    ((${position:-0} >= 30)) && break
    kill -0 "$watch_pid" 2>/dev/null || break
    sleep 0.1
  done
  before=$(value_of progress "$(probe state)")
  shot_rect=$(e2e_screenshot "$shots/transfer.png")
  after=$(value_of progress "$(probe state)")
  keys ctrl+u
  wait "$watch_pid"
  tr -d '\r' <"$dir/watch.raw" >"$dir/watch.txt"

  local samples positions percents box_caption box_text
  samples=$(sed -n 's/^sample=//p' "$dir/watch.txt")
  positions=$(cut -d' ' -f1 <<<"$samples" | awk '$1 > 0 && $1 < 100' | sort -un | wc -l)
  percents=$(cut -d' ' -f2 <<<"$samples" | grep -E '^[0-9]+%$' | grep -vx '0%' | sort -u | wc -l)
  ((positions >= 3)) || fail "progress bar took only $positions positions between 0 and 100: $(tr '\n' ' ' <<<"$samples")"
  ((percents >= 3)) || fail "percentage took only $percents values above 0%: $(tr '\n' ' ' <<<"$samples")"
  cut -d' ' -f1 <<<"$samples" | sort -n -c 2>/dev/null ||
    fail "progress bar went backwards: $(tr '\n' ' ' <<<"$samples")"
  box_caption=$(value_of caption "$(cat "$dir/watch.txt")")
  box_text=$(value_of text "$(cat "$dir/watch.txt")")
  expect "box caption" "$box_caption" "$CAPTION"
  expect "box text" "$box_text" "$FINISHED"
  expect "box buttons" "$(value_of buttons "$(cat "$dir/watch.txt")")" "OK"
  dismiss_with_enter
  expect_idle_window
  close_with_file_exit

  e2e_pager_stop com1
  expect_image "$sample" "$dir/image.hex"
  expect "'f' commands (a second Update must not start another)" "$(log_count "$dir/pager.log" 'RX f')" 1
  expect "rate command b4800B8" "$(log_count "$dir/pager.log" 'RX b4800B8')" 1
  expect "RATE 4800 in the log" "$(log_count "$dir/pager.log" 'RATE 4800')" 1
  expect "'q' commands" "$(log_count "$dir/pager.log" 'RX q')" 1
  expect_no_log_errors "$dir/pager.log"
  report "normal update: File, Open..., Ctrl+U, progress, \"$FINISHED\", image matches"

  # The picture taken in the middle of the transfer.
  if [[ ! -s $shots/transfer.png ]]; then
    fail "no screenshot at $shots/transfer.png"
  else
    fill=$(e2e_bar_fill "$shots/transfer.png" "$shot_rect")
    e2e_note "screenshot bar fill $fill%, progress $before..$after"
    if ((fill <= 0 || fill >= 100)); then
      fail "the bar in the screenshot is not partly filled (fill $fill)"
    elif ((fill < before - 5 || fill > after + 5)); then
      fail "the bar in the screenshot is $fill% filled, the progress was $before..$after"
    fi
  fi
  report "screenshot in the middle of a transfer: $shots/transfer.png"
}

# --- settings: first start, choices saved at close, used at the next start --
case_settings() {
  local dir=$work/settings ini=$work/settings/run/TARVEXUPD.INI
  e2e_pager_start com1 "$dir/com1" || { fail "emulator did not start"; return 1; }
  # The third record is refused five times: the update gets through only
  # with five resends allowed.
  e2e_pager_start com2 "$dir/com2" --nak-send 3:5 || { fail "emulator did not start"; return 1; }
  e2e_app_start "$dir/run" || { fail "main window did not appear"; return 1; }
  expect_settings "$ini" "1${CRLF}M${CRLF}3${CRLF}" "TARVEXUPD.INI at first start"
  expect "menu marks at first start (COM, rate, resend rows)" "$(menu_marks)" "1 2 2"

  keys alt+s c 2
  keys ctrl+h
  keys alt+s s 5
  expect "menu marks after COM 2, Ctrl+H, 5 times" "$(menu_marks)" "2 3 3"
  close_with_file_exit
  expect_settings "$ini" "2${CRLF}H${CRLF}5${CRLF}" "TARVEXUPD.INI after File, Exit"

  e2e_app_start "$dir/run" || { fail "main window did not appear at the restart"; return 1; }
  expect "menu marks at the restart" "$(menu_marks)" "2 3 3"
  e2e_open_file "$(e2e_windows_path "$files/update.hex")" || { fail "File, Open... failed"; return 1; }
  keys ctrl+u
  local out text resends=0 final=
  for _ in $(seq 8); do
    out=$(probe ok 30000) || { fail "no box after $resends resend boxes"; break; }
    text=$(value_of text "$out")
    if [[ $text == "Fail to send code-package." ]]; then
      ((resends++))
    else
      final=$text
      break
    fi
  done
  expect "\"Fail to send code-package.\" boxes" "$resends" 5
  expect "last box" "$final" "$FINISHED"
  close_with_file_exit
  expect_settings "$ini" "2${CRLF}H${CRLF}5${CRLF}" "TARVEXUPD.INI after the second run"

  e2e_pager_stop com1
  e2e_pager_stop com2
  expect "commands that reached COM1" "$(grep -c ' RX ' "$dir/com1/pager.log")" 0
  expect "rate command b96006A on COM2" "$(log_count "$dir/com2/pager.log" 'RX b96006A')" 1
  expect "RATE 9600 on COM2" "$(log_count "$dir/com2/pager.log" 'RATE 9600')" 1
  expect "refused records on COM2" "$(grep -c ' FAULT nak-send' "$dir/com2/pager.log")" 5
  expect_no_log_errors "$dir/com2/pager.log"
  expect_image "$files/update.hex" "$dir/com2/image.hex"
  report "settings: first start writes 1,M,3; COM 2, 9600, 5 times saved and used after a restart"
}

# --- Update with no file ----------------------------------------------------
case_nofile() {
  local dir=$work/nofile out
  e2e_pager_start com1 "$dir" || { fail "emulator did not start"; return 1; }
  e2e_app_start "$dir/run" || { fail "main window did not appear"; return 1; }
  keys ctrl+u
  out=$(probe box 10000)
  expect "caption" "$(value_of caption "$out")" "Opan a file"
  expect "text" "$(value_of text "$out")" "Please load a .HEX file first."
  expect "buttons" "$(value_of buttons "$out")" "OK"
  dismiss_with_enter
  expect "UpDate button after the box" "$(value_of button "$(probe state)")" enabled
  close_with_file_exit
  e2e_pager_stop com1
  expect "commands sent to the pager" "$(grep -c ' RX ' "$dir/pager.log")" 0
  report "Ctrl+U with no file: \"Please load a .HEX file first.\" / \"Opan a file\""
}

# --- a pager that never answers ----------------------------------------------
case_silent() {
  local dir=$work/silent out
  e2e_pager_start com1 "$dir" --silent || { fail "emulator did not start"; return 1; }
  mkdir -p "$dir/run"
  cp "$files/update.hex" "$dir/run/"
  e2e_app_start "$dir/run" || { fail "main window did not appear"; return 1; }
  # A path relative to the program's directory this time.
  e2e_open_file "update.hex" || { fail "File, Open... failed"; return 1; }
  keys ctrl+u
  out=$(probe box 20000)
  expect "caption" "$(value_of caption "$out")" "$CAPTION"
  expect "text" "$(value_of text "$out")" "No response from the pager, flash now terminated."
  dismiss_with_enter
  expect_idle_window
  close_with_file_exit
  e2e_pager_stop com1
  expect "'f' commands" "$(log_count "$dir/pager.log" 'RX f')" 1
  expect "'q' commands" "$(log_count "$dir/pager.log" 'RX q')" 0
  report "silent pager: \"No response from the pager, flash now terminated.\", no 'q'"
}

# --- closing the window while an update runs ---------------------------------
case_close() {
  local dir=$work/close ini=$work/close/run/TARVEXUPD.INI state position=0 later out
  e2e_pager_start com1 "$dir" --pace || { fail "emulator did not start"; return 1; }
  e2e_app_start "$dir/run" || { fail "main window did not appear"; return 1; }
  keys alt+s s n
  e2e_open_file "$(e2e_windows_path "$files/update.hex")" || { fail "File, Open... failed"; return 1; }
  keys ctrl+u
  for _ in $(seq 100); do
    position=$(value_of progress "$(probe state)")
    ((${position:-0} >= 10)) && break
    sleep 0.1
  done
  ((${position:-0} >= 10)) || fail "the update did not start (progress ${position:-none})"
  # File, Exit, and then the close box's way (Alt+F4), both mid-transfer.
  keys alt+f x
  sleep 0.8
  keys alt+F4
  sleep 0.8
  state=$(probe state)
  if [[ $(value_of main "$state") == none ]]; then
    fail "the window closed while the update ran"
    return 1
  fi
  later=$(value_of progress "$state")
  [[ $(value_of button "$state") == disabled ]] || fail "the update was over at once: ${state//$'\n'/ }"
  ((${later:-0} > position)) || fail "the update stopped after the close (progress $position then ${later:-none})"
  out=$(probe box 60000)
  expect "box after the update" "$(value_of text "$out")" "$FINISHED"
  probe main 0 >/dev/null || fail "the window was gone before the box was dismissed"
  dismiss_with_enter
  probe gone 10000 >/dev/null || fail "the window did not close after the box"
  e2e_app_wait_exit 10 || { fail "the program did not end after the box"; e2e_app_kill; }
  expect_settings "$ini" "1${CRLF}M${CRLF}0${CRLF}" "TARVEXUPD.INI after the deferred close"
  e2e_pager_stop com1
  expect_image "$files/update.hex" "$dir/image.hex"
  expect "'q' commands" "$(log_count "$dir/pager.log" 'RX q')" 1
  expect_no_log_errors "$dir/pager.log"
  report "close during an update: the update completes, then the window closes and saves"
}

# --- a port above COM4, and a file named on the command line ----------------
# The Comm Port submenu read as COM 1 to COM 4 and the listed ports below
# them: "FIXED_ROW LISTED_ROW ITEMS", rows counted from 1 within each part.
comm_port_marks() {
  local out
  keys alt+s c
  out=$(probe popup 4 5000)
  keys Escape Escape Escape
  echo "$(value_of checked "$out") $(value_of listed "$out") $(value_of items "$out")"
}

# menu_screenshot OUT.png: the window with its Comm Port submenu open.
menu_screenshot() {
  local out=$1 window popup x y w h px py pw ph left top right bottom margin=12
  window=$(value_of window "$(probe rects)")
  keys alt+s c
  popup=$(value_of popup "$(probe popup 4 5000)")
  IFS=, read -r x y w h <<<"$window"
  IFS=, read -r px py pw ph <<<"$popup"
  left=$((x - margin)) top=$((y - margin))
  right=$(((x + w > px + pw ? x + w : px + pw) + margin))
  bottom=$(((y + h > py + ph ? y + h : py + ph) + margin))
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$out" ||
    fail "no screenshot of the menu"
  keys Escape Escape Escape
}

case_listed() {
  local dir=$work/listed ini=$work/listed/run/TARVEXUPD.INI marks items state out typed
  e2e_pager_start com12 "$dir" || { fail "emulator did not start"; return 1; }
  mkdir -p "$dir/run"
  # With LF line ends, as a git checkout or a Unix tool leaves it.
  tr -d '\r' <"$files/update.hex" >"$dir/run/update.hex"
  # A path relative to the program's directory, as a shell would pass it.
  e2e_app_start "$dir/run" update.hex || { fail "main window did not appear"; return 1; }
  state=$(probe state)
  typed=$(e2e_windows_path "$dir/run/update.hex")
  expect "file name from the command line" "$(value_of file "$state")" "${typed//\\/\\\\}"
  expect "button after start (no update by itself)" "$(value_of button "$state")" enabled
  expect "focus after start with a file" "$(value_of focus "$(probe focus)")" "Button 302"
  marks=$(comm_port_marks)
  read -r _ _ items <<<"$marks"
  # COM12 is the highest port of the prefix: the last listed item.
  ((items > 4)) ||
    fail "no listed port below COM 1 to COM 4 (items ${items:-none}; a prefix made before COM12 was mapped? remove $prefix)"
  expect "Comm Port marks at start" "$marks" "1 none $items"
  # Up from the first item wraps round to the last one, COM12.
  keys alt+s c Up Return
  expect "Comm Port marks after choosing COM12" "$(comm_port_marks)" "none $((items - 4)) $items"
  keys ctrl+u
  out=$(probe box 60000)
  expect "box after the update on COM12" "$(value_of text "$out")" "$FINISHED"
  dismiss_with_enter
  expect_idle_window
  close_with_file_exit
  expect_settings "$ini" "12${CRLF}M${CRLF}3${CRLF}" "TARVEXUPD.INI after the update on COM12"
  e2e_pager_stop com12
  expect "'q' commands on COM12" "$(log_count "$dir/pager.log" 'RX q')" 1
  expect_no_log_errors "$dir/pager.log"
  expect_image "$files/update.hex" "$dir/image.hex"
  report "COM12 listed, chosen, updated through; file from the command line, LF line ends; settings hold 12"
}

# --- a settings file naming a port that is not there --------------------------
case_absent() {
  local dir=$work/absent ini=$work/absent/run/TARVEXUPD.INI marks items out state typed shown
  local first last length deep="$work/absent/firmware releases for the bench/2026-12 pager update"
  mkdir -p "$dir/run"
  printf '9\r\nM\r\n3\r\n' >"$ini"
  # The menu's picture shows the file name: one on the prefix's drive C:, as
  # on a Windows PC, not a path of this machine.
  mkdir -p "$prefix/drive_c/Firmware" && cp "$sample" "$prefix/drive_c/Firmware/"
  e2e_app_start "$dir/run" 'C:\Firmware\pager-demo.hex' ||
    { fail "main window did not appear"; return 1; }
  marks=$(comm_port_marks)
  read -r _ _ items <<<"$marks"
  # "COM9 (not present)" comes just before COM12, the last listed item.
  expect "Comm Port marks with COM9 gone" "$marks" "none $((items - 5)) $items"
  menu_screenshot "$shots/comm-port-menu.png"
  keys ctrl+u
  out=$(probe box 20000)
  expect "box caption" "$(value_of caption "$out")" "Error"
  expect "box text" "$(value_of text "$out")" 'Can NOT Open "COM9"\nThe port does not exist.'
  dismiss_with_enter
  expect_idle_window
  # A file dropped on the window is chosen as File, Open... would choose it,
  # and starts nothing. Its path is longer than the box: the box shows its
  # end, the file's name.
  mkdir -p "$deep" && cp "$files/update.hex" "$deep/"
  e2e_drop_file "$deep/update.hex" || fail "the drop did not finish"
  state=$(probe state)
  typed=$(e2e_windows_path "$deep/update.hex")
  expect "file name after the drop" "$(value_of file "$state")" "${typed//\\/\\\\}"
  shown=$(value_of file_shown "$state")
  IFS='-/' read -r first last length <<<"$shown"
  ((${first:-0} > 0 && ${last:-0} >= ${length:-1} - 1)) ||
    fail "the file box does not show the end of the long name (characters shown: $shown)"
  expect "focus after the drop" "$(value_of focus "$(probe focus)")" "Button 302"
  expect "box after the drop (no update by itself)" "$(value_of box "$state")" none
  # COM 2 as before; the gone port, no longer chosen, is no longer listed.
  keys alt+s c 2
  expect "Comm Port marks after COM 2" "$(comm_port_marks)" "2 none $((items - 1))"
  close_with_file_exit
  expect_settings "$ini" "2${CRLF}M${CRLF}3${CRLF}" "TARVEXUPD.INI after choosing COM 2"
  report "settings naming COM9: listed as not present and checked; the update says Can NOT Open \"COM9\"; a dropped file is chosen"
}

# --- a folder named in several scripts -----------------------------------------
# Every name below it goes through the program whole: the settings file, the
# file chosen with File, Open..., given on the command line and dropped, and
# the names and reasons in the boxes. The ANSI code page (1252) lacks all but
# "ó" of it, so a narrow call anywhere would turn it into "?".
readonly NAMES_FOLDER="Łódź 日本 Ωμέγα"

case_names() {
  local dir=$work/names run=$work/names/$NAMES_FOLDER ini out typed gone
  ini=$run/TARVEXUPD.INI
  typed=$(e2e_windows_path "$run/fw.hex")
  gone=$(e2e_windows_path "$run/gone.hex")
  expect "ANSI code page under Wine" "$(value_of acp "$(probe codepages)")" 1252
  mkdir -p "$run"
  cp "$files/update.hex" "$run/fw.hex"

  # The folder's settings file read at the first show (9600 bit/s, five
  # resends, a port that is not there), and saved there at close.
  printf '9\r\nH\r\n5\r\n' >"$ini"
  e2e_pager_start com2 "$dir/open" || { fail "emulator did not start"; return 1; }
  e2e_app_start "$run" || { fail "main window did not appear"; return 1; }
  expect "menu marks from the folder's settings file" "$(menu_marks)" "none 3 3"
  # Pasted into the dialog whole, as a person would.
  e2e_open_file "$typed" || { fail "File, Open... did not take $typed"; return 1; }
  expect "file name after File, Open..." "$(value_of file "$(probe state)")" "${typed//\\/\\\\}"
  keys ctrl+u
  out=$(probe box 20000)
  expect "box for the port that is not there" "$(value_of text "$out")" \
    'Can NOT Open "COM9"\nThe port does not exist.'
  dismiss_with_enter
  keys alt+s c 2
  keys ctrl+u
  out=$(probe box 60000)
  expect "box after File, Open... in the folder" "$(value_of text "$out")" "$FINISHED"
  dismiss_with_enter
  keys alt+s s n
  close_with_file_exit
  expect_settings "$ini" "2${CRLF}H${CRLF}0${CRLF}" "TARVEXUPD.INI saved in the folder at close"
  e2e_pager_stop com2
  expect_image "$run/fw.hex" "$dir/open/image.hex"

  # No settings file: one with the defaults is written there at the first
  # show. The file is given on the command line.
  rm -f "$ini"
  e2e_pager_start com1 "$dir/argument" || { fail "emulator did not start"; return 1; }
  e2e_app_start "$run" "$typed" || { fail "main window did not appear"; return 1; }
  expect_settings "$ini" "1${CRLF}M${CRLF}3${CRLF}" "TARVEXUPD.INI written in the folder"
  expect "file name from the command line" "$(value_of file "$(probe state)")" "${typed//\\/\\\\}"
  keys ctrl+u
  out=$(probe box 60000)
  expect "box after the file from the command line" "$(value_of text "$out")" "$FINISHED"
  dismiss_with_enter
  e2e_pager_stop com1
  expect_image "$run/fw.hex" "$dir/argument/image.hex"

  # Dropped on the window: first a file that is gone by the time of the
  # update, whose box says why; then the firmware itself.
  e2e_pager_start com1 "$dir/drop" || { fail "emulator did not start"; return 1; }
  cp "$run/fw.hex" "$run/gone.hex"
  e2e_drop_file "$run/gone.hex" || fail "the drop did not finish"
  expect "file name after the drop" "$(value_of file "$(probe state)")" "${gone//\\/\\\\}"
  rm -f "$run/gone.hex"
  keys ctrl+u
  out=$(probe box 20000)
  expect "box for the file that is gone" "$(value_of text "$out")" \
    'Unable to open the HEX file.\nThe file cannot be opened: File not found.'
  dismiss_with_enter
  e2e_drop_file "$run/fw.hex" || fail "the drop did not finish"
  expect "file name after the second drop" "$(value_of file "$(probe state)")" "${typed//\\/\\\\}"
  keys ctrl+u
  out=$(probe box 60000)
  expect "box after the dropped file" "$(value_of text "$out")" "$FINISHED"
  dismiss_with_enter
  close_with_file_exit
  expect_settings "$ini" "1${CRLF}M${CRLF}3${CRLF}" "TARVEXUPD.INI after the drops"
  e2e_pager_stop com1
  expect "'f' commands of the dropped files" "$(log_count "$dir/drop/pager.log" 'RX f')" 1
  expect_no_log_errors "$dir/drop/pager.log"
  expect_image "$run/fw.hex" "$dir/drop/image.hex"
  report "names in any script: settings, File, Open..., command line and drop under \"$NAMES_FOLDER\""
}

# --- the adapter pulled out mid-update, then plugged in again -----------------
case_pulled() {
  local dir=$work/pulled position=0 out text
  e2e_pager_start com1 "$dir/first" --pace || { fail "emulator did not start"; return 1; }
  e2e_app_start "$dir/run" || { fail "main window did not appear"; return 1; }
  e2e_open_file "$(e2e_windows_path "$files/update.hex")" || { fail "File, Open... failed"; return 1; }
  keys ctrl+u
  for _ in $(seq 100); do
    position=$(value_of progress "$(probe state)")
    ((${position:-0} >= 10)) && break
    sleep 0.1
  done
  ((${position:-0} >= 10)) || fail "the update did not start (progress ${position:-none})"
  # The emulator goes, and its line with it, as when the cable is pulled out.
  e2e_pager_stop com1
  out=$(probe box 20000)
  text=$(value_of text "$out")
  e2e_note "box after the pull: $text"
  expect "first line of the box" "${text%%\\n*}" "No response from the pager, flash now terminated."
  [[ $text == *'\nThe port was lost: '* ]] || fail "the box does not say the port was lost: $text"
  dismiss_with_enter
  expect_idle_window
  # Plugged in again: the next update on the same port goes through.
  e2e_pager_start com1 "$dir/second" || { fail "emulator did not start again"; return 1; }
  keys ctrl+u
  out=$(probe box 60000)
  expect "box after the second update" "$(value_of text "$out")" "$FINISHED"
  dismiss_with_enter
  close_with_file_exit
  e2e_pager_stop com1
  expect_image "$files/update.hex" "$dir/second/image.hex"
  expect "'q' commands after the return" "$(log_count "$dir/second/pager.log" 'RX q')" 1
  expect_no_log_errors "$dir/second/pager.log"
  report "emulator gone mid-update: \"No response...\" saying the port was lost; the next update on COM1 finishes"
}

# Whatever a case left running.
e2e_case_cleanup() {
  e2e_pager_stop com1 2>/dev/null
  e2e_pager_stop com2 2>/dev/null
  e2e_pager_stop com12 2>/dev/null
}

run_case normal
run_case settings
run_case nofile
run_case silent
run_case close
run_case listed
run_case absent
run_case names
run_case pulled

e2e_summary
