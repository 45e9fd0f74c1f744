#!/usr/bin/env bash
# Tarvex Flasher in a minute, on a Debian machine: installs what is missing,
# builds the pager emulator and TarvexUpd.exe, and starts the program under
# Wine with COM1 connected to the emulator and a sample firmware file
# (pager-demo.hex) ready to choose.
#
#   tools/demo/run-demo.sh [--headless]
#
# With a display ($DISPLAY set) the program stays open for you: File,
# Open..., pick pager-demo.hex, then Action, Update Flash (Ctrl+U). The
# emulator stops when you close the program, and its log and flash image are
# left in build/demo.
#
# With no display (or --headless) it starts a virtual one, runs one update
# itself and leaves build/demo/screenshot.png (the window in the middle of
# the transfer), build/demo/finished.png (the box that ends it) and
# build/demo/pager.log (the emulator's side of it). The exit code is 0 only
# when the update finished and the emulator's flash image holds the file's
# data.
#
# The program runs in C:\Tarvex of the demo's Wine prefix, where the sample
# firmware and TARVEXUPD.INI are, so the pictures show the paths of a Windows
# PC rather than of this machine.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
headless=false
case ${1:-} in
  --headless) headless=true ;;
  "") [[ -n ${DISPLAY:-} ]] || headless=true ;;
  -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "run-demo.sh: unknown option $1" >&2; exit 2 ;;
esac

demo=$root/build/demo
prefix=$root/build/windows/wineprefix-demo
pagersim=$root/build/linux/tools/pagersim/pagersim
sample=$root/samples/pager-demo.hex
# C:\Tarvex, the program's current directory.
run_dir=$prefix/drive_c/Tarvex

step() { echo "== $*"; }

cd "$root" || exit 2
step "Installing what is missing"
bash tools/install-deps.sh || exit 2

step "Building the pager emulator (linux preset) and TarvexUpd.exe (windows preset)"
{
  cmake --preset linux >/dev/null &&
    cmake --build --preset linux --target pagersim &&
    cmake --preset windows >/dev/null &&
    cmake --build --preset windows --target TarvexUpd
} || { echo "error: the build failed" >&2; exit 2; }

# shellcheck source=tests/wine/e2e-lib.sh
source "$root/tests/wine/e2e-lib.sh"
rm -rf "$demo" "$run_dir"
mkdir -p "$demo" "$run_dir"
e2e_init "$root" "$root/build/windows" "$pagersim" "$prefix" "$demo"
e2e_require wine wineserver python3
cp "$sample" "$run_dir/"

# The emulator's image against the sample's data; prints the verdict.
image_matches() {
  if [[ ! -s $demo/image.hex ]]; then
    echo "The emulator's flash image is empty: no update reached it."
    return 1
  fi
  if cmp -s <(python3 "$E2E_LIB_DIR/hexdata.py" "$sample") \
            <(python3 "$E2E_LIB_DIR/hexdata.py" "$demo/image.hex"); then
    echo "The emulator's flash image matches pager-demo.hex."
    return 0
  fi
  echo "The emulator's flash image does NOT match pager-demo.hex (see $demo/image.hex)."
  return 1
}

if ! $headless; then
  step "Preparing the Wine prefix $prefix"
  # On a real display the program gets ordinary windows of its own.
  e2e_prepare_prefix windows
  step "Starting the pager emulator on COM1"
  # --pace: every byte takes as long as on a cable, so the update can be watched.
  e2e_pager_start com1 "$demo" --pace || { echo "error: the emulator did not start" >&2; exit 1; }
  cat <<EOF

Tarvex Flasher is starting. COM1 leads to the pager emulator.
  1. File, Open...: pick pager-demo.hex (it is in the folder the dialog shows).
  2. Action, Update Flash (or Ctrl+U, or the UpDate button), and watch the bar.
  3. "Firmware updated finished." ends the update. Close the program when done.
Settings (COM port, rate, resends) are kept in C:\Tarvex\TARVEXUPD.INI
($run_dir/TARVEXUPD.INI).

EOF
  (cd "$run_dir" && wine "$E2E_EXE") >"$demo/app.out" 2>&1 </dev/null
  e2e_pager_stop com1
  echo
  echo "The program has ended. Emulator log: $demo/pager.log"
  image_matches
  exit 0
fi

# shot_with_box OUT.png: the window and the message box over it, with a
# margin, from the screen.
shot_with_box() {
  local out=$1 window box x y w h bx by bw bh left top right bottom margin=12
  window=$(value_of window "$(probe rects)")
  box=$(value_of rect "$(probe box 5000)")
  [[ -n $window && -n $box ]] || return 1
  IFS=, read -r x y w h <<<"$window"
  IFS=, read -r bx by bw bh <<<"$box"
  left=$(((x < bx ? x : bx) - margin)) top=$(((y < by ? y : by) - margin))
  right=$(((x + w > bx + bw ? x + w : bx + bw) + margin))
  bottom=$(((y + h > by + bh ? y + h : by + bh) + margin))
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$out"
}

step "No display: starting a virtual one and running one update"
e2e_require Xvfb xdotool import convert
e2e_build_probe
e2e_start_xvfb
e2e_prepare_prefix
e2e_pager_start com1 "$demo" --pace || { echo "error: the emulator did not start" >&2; exit 1; }
e2e_app_start "$run_dir" || { echo "error: the program's window did not appear" >&2; exit 1; }

ok=true
e2e_open_file "pager-demo.hex" || { echo "error: File, Open... did not take pager-demo.hex" >&2; exit 1; }
started=$SECONDS
keys ctrl+u
# Made before the probe starts: the loop below reads it at once, before the
# background job has opened it.
: >"$demo/watch.raw"
wine "$E2E_PROBE" watch 180000 >"$demo/watch.raw" 2>>"$E2E_LOG" &
watch_pid=$!
shot=false
while kill -0 "$watch_pid" 2>/dev/null; do
  position=$(tr -d '\r' <"$demo/watch.raw" | sed -n 's/^sample=\([0-9]*\) .*/\1/p' | tail -n1)
  if ! $shot && ((${position:-0} >= 40)); then
    e2e_screenshot "$demo/screenshot.png" >/dev/null && shot=true
    echo "   screenshot taken at ${position}%"
  fi
  sleep 0.2
done
wait "$watch_pid"
result=$(tr -d '\r' <"$demo/watch.raw")
text=$(value_of text "$result")
caption=$(value_of caption "$result")
echo "   the update took $((SECONDS - started)) s and ended with the box \"$text\" (caption \"$caption\")"
[[ $text == "Firmware updated finished." ]] || ok=false
$shot || { echo "   no screenshot: the transfer ended before 40%"; ok=false; }
shot_with_box "$demo/finished.png" || { echo "   no picture of the finished box"; ok=false; }
probe ok 5000 >/dev/null
keys alt+f x
e2e_app_wait_exit 15 || e2e_app_kill
e2e_pager_stop com1
image_matches || ok=false

echo
echo "Screenshot:     $demo/screenshot.png"
echo "Finished box:   $demo/finished.png"
echo "Emulator log:   $demo/pager.log"
echo "Flash image:    $demo/image.hex"
if $ok; then
  echo "Demo update: OK"
  exit 0
fi
echo "Demo update: FAILED (driver log: $E2E_LOG)"
exit 1
