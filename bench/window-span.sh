#!/usr/bin/env bash
# How close an update by the window, TarvexUpd.exe under Wine, comes to the
# time its bytes need on the line: the same question bench_line asks of the
# engine natively. The window runs on a virtual display with the paced pager
# emulator behind COM1, at 9600 bit/s with no resends, on the benchmark
# image; the span is taken from the emulator's log, from the first byte of
# the "f" that starts the update to the end of the last record's ACK, and set
# against the line bound of that part. The box that ends the update, and the
# exit command after it, are left out: the box waits for the user.
#
#   bench/window-span.sh [--records N] [--runs N]     (defaults 500 and 3)
#
# Needs the Linux and Windows builds (build/linux, build/windows) and what
# tools/install-deps.sh installs.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
records=500
runs=3
while (($#)); do
  case $1 in
    --records) records=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "window-span.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

build=$root/build/windows
work=$build/window-span
# shellcheck source=tests/wine/e2e-lib.sh
source "$root/tests/wine/e2e-lib.sh"
rm -rf "$work"
e2e_init "$root" "$build" "$root/build/linux/tools/pagersim/pagersim" "$build/wineprefix-span" \
  "$work"
e2e_require Xvfb xdotool wine wineserver
e2e_build_probe
e2e_start_xvfb || e2e_die "no virtual display"
e2e_prepare_prefix

image=$work/image.hex
bound=$("$root/build/linux/bench/bench_hexgen" --records "$records" "$image" |
  sed -n 's/.*line bound \([0-9.]*\) s.*/\1/p')
[[ -n $bound ]] || e2e_die "bench_hexgen did not write the image"
echo "window-span: $records records at 9600 bit/s, pacing on; line bound $bound s"

# Milliseconds of a log line's stamp.
stamp() { sed -n "$1" | head -n1 | cut -d' ' -f1 | sed 's/^0*//'; }

# The bound without the pause and the exit command with its ACK at 9600 bit/s.
part=$(awk -v b="$bound" 'BEGIN { printf "%.3f", b - 0.1 - 2 * 10 / 9600 }')
echo "window-span: bound of the part from \"f\" to the last record's ACK: $part s"

for run in $(seq "$runs"); do
  dir=$work/run-$run
  e2e_pager_start com1 "$dir" --pace || e2e_die "emulator did not start"
  # COM1, 9600 bit/s, no resends.
  mkdir -p "$dir/app"
  printf '1\r\nH\r\n0\r\n' >"$dir/app/TARVEXUPD.INI"
  e2e_app_start "$dir/app" "$(e2e_windows_path "$image")" || e2e_die "main window did not appear"
  keys ctrl+u
  box=$(probe box $(((${bound%.*} + 60) * 1000))) || e2e_die "no box at the end: $box"
  probe ok 5000 >/dev/null
  keys alt+f x
  e2e_app_wait_exit 10 || e2e_app_kill
  e2e_pager_stop com1
  log=$dir/pager.log
  # The log stamps a command once its last byte is in, a reply as it goes
  # out: the first byte of "f" came 10 bit times at 1200 bit/s before its
  # stamp, and the last ACK takes 10 at 9600 after its own.
  first=$(stamp '/ RX f$/p' <"$log")
  last=$(sed -n '/ RX q$/q; / TX ACK$/p' "$log" | tail -n1 | cut -d' ' -f1 | sed 's/^0*//')
  span=$(awk -v a="$first" -v b="$last" 'BEGIN { printf "%.3f", (b - a) / 1000 + 10 / 1200 + 10 / 9600 }')
  echo "run $run: $(value_of text "$box"); span $span s, $(awk -v s="$span" -v b="$part" \
    'BEGIN { printf "%.2f %% over its bound", (s / b - 1) * 100 }')"
done
