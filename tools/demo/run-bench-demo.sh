#!/usr/bin/env bash
# The bench window's two pictures for README.md, taken under Wine with
# Wine's own fonts: builds the pager emulator, TarvexBench.exe and its probe,
# and runs the bench on a virtual display in C:\Bench of the demo's Wine
# prefix, with emulators behind COM5, COM6 and COM12.
#
#   tools/demo/run-bench-demo.sh
#
# Leaves build/demo/bench-running.png (tiles mid-run: a pager being flashed,
# one whose pager refuses every program command in red, one port waiting
# for a pager) and build/demo/bench-totals.png (the totals after /count 5,
# one pager failed on the way). The copies in this folder were taken so.
# The exit code is 0 only when both pictures were taken.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
demo=$root/build/demo
prefix=$root/build/windows/wineprefix-demo
pagersim=$root/build/linux/tools/pagersim/pagersim
run_dir=$prefix/drive_c/Bench

step() { echo "== $*"; }

cd "$root" || exit 2
step "Installing what is missing"
bash tools/install-deps.sh || exit 2

step "Building the pager emulator (linux preset), TarvexBench.exe and its probe (windows preset)"
{
  cmake --preset linux >/dev/null &&
    cmake --build --preset linux --target pagersim &&
    cmake --preset windows >/dev/null &&
    cmake --build --preset windows --target TarvexBench tarvex_bench_probe
} || { echo "error: the build failed" >&2; exit 2; }

# shellcheck source=tests/wine/e2e-lib.sh
source "$root/tests/wine/e2e-lib.sh"
mkdir -p "$demo"
rm -rf "$run_dir" "$demo"/bench-*
mkdir -p "$run_dir"
e2e_init "$root" "$root/build/windows" "$pagersim" "$prefix" "$demo/bench" \
  "$root/build/windows/tests/benchwin/wine/tarvex-bench-probe.exe"
E2E_EXE=$root/build/windows/benchwin/TarvexBench.exe
e2e_require Xvfb xdotool import convert wine wineserver python3
e2e_start_xvfb
e2e_prepare_prefix desktop
cp "$root/samples/pager-demo.hex" "$run_dir/"
printf 'Rate=9600\r\n' >"$run_dir/TARVEXBENCH.INI"

# wait_for SECONDS TEST: polls the window's state ($state) until TEST holds.
wait_for() {
  local seconds=$1 test=$2
  for _ in $(seq $((seconds * 4))); do
    state=$(probe state)
    eval "$test" && return 0
    sleep 0.25
  done
  return 1
}

percent_of() {
  local fields
  IFS='|' read -r -a fields <<<"$(value_of "tile$1" "$state")"
  echo "${fields[2]:-0}"
}

# shot OUT.png: the window and a margin, in a palette of its own colours.
shot() {
  local x y w h margin=12
  IFS=, read -r x y w h <<<"$(value_of window "$(probe rects)")"
  import -window root -crop "$((w + 2 * margin))x$((h + 2 * margin))+$((x - margin))+$((y - margin))" \
    +repage "$demo/raw.png" && convert "$demo/raw.png" -colors 64 "PNG8:$1" && rm -f "$demo/raw.png"
}

ok=true
stop_pagers() {
  local port
  for port in com5 com6 com12; do e2e_pager_stop "$port"; done
}

step "Mid-run: COM5 flashing, COM6's pager refusing, COM12 waiting"
e2e_pager_start com5 "$demo/bench/com5" --pace
e2e_pager_start com6 "$demo/bench/com6" --pace --nak-program 1000
e2e_pager_start com12 "$demo/bench/com12" --sessions 1 --attach-after 600000 --linger-ms 1000
e2e_app_start "$run_dir" /run pager-demo.hex COM5 COM6 COM12 || { echo "error: no window" >&2; exit 1; }
if wait_for 60 '[[ $(value_of tile1_colour "$state") == red ]] && (($(percent_of 0) >= 40))'; then
  shot "$demo/bench-running.png"
else
  echo "   no red tile beside a transfer 40 % through"
  ok=false
fi
keys F5
wait_for 30 '[[ $(value_of status "$state") == Stopped:* ]]' || ok=false
keys alt+f x
e2e_app_wait_exit 15 || e2e_app_kill
stop_pagers

step "A run of /count 5: three pagers on COM5, two on COM6, one failing on COM12"
e2e_pager_start com5 "$demo/bench/com5" --pace --sessions 3 --linger-ms 1500 --gap-ms 1500
e2e_pager_start com6 "$demo/bench/com6" --pace --sessions 2 --attach-after 3000 --linger-ms 1500 \
  --gap-ms 1500
e2e_pager_start com12 "$demo/bench/com12" --pace --sessions 1 --attach-after 6000 \
  --linger-ms 1500 --nak-program 1000
e2e_app_start "$run_dir" /run /count 5 pager-demo.hex COM5 COM6 COM12 ||
  { echo "error: no window" >&2; exit 1; }
if wait_for 180 '[[ $(value_of status "$state") == *"count of 5 is reached."* ]]'; then
  shot "$demo/bench-totals.png"
else
  echo "   the run did not reach five pagers: $(value_of status "$state")"
  ok=false
fi
keys alt+f x
e2e_app_wait_exit 15 || e2e_app_kill
stop_pagers

echo
echo "Mid-run:  $demo/bench-running.png"
echo "Totals:   $demo/bench-totals.png"
$ok || { echo "Bench pictures: FAILED (driver log: $E2E_LOG)"; exit 1; }
echo "Bench pictures: OK"
