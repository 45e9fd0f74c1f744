#!/usr/bin/env bash
# Instructions per record under callgrind, a figure that does not drift with
# machine load. Counted inside UpdateFlow::Run only (writing the image file is
# left out), for the 64 KiB image and one ten times larger:
#   run      everything UpdateFlow::Run executes, the stand-in pager included
#   engine   the same without the stand-in pager's device calls
#   check    of which the check of the whole file before the first command
#   whole    the whole program, for scale (total, not per record)
#
#   bench/callgrind.sh [path/to/bench_engine]     (default build/linux/bench/bench_engine)
set -euo pipefail

engine=${1:-build/linux/bench/bench_engine}
if [[ ! -x $engine ]]; then
  echo "callgrind.sh: $engine is not built (cmake --build --preset linux)" >&2
  exit 1
fi
command -v valgrind >/dev/null || { echo "callgrind.sh: valgrind not found" >&2; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Prints the instruction count of one run of bench_engine under callgrind.
count() {
  local records=$1
  shift
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" "$@" \
    "$engine" --callgrind-run --records "$records" 2>&1 >/dev/null |
    awk '/Collected :/ { print $NF }'
}

printf '%8s %12s %10s %10s %10s %12s\n' records "Ir in Run" "run/rec" "engine/rec" \
  "check/rec" "whole Ir"
for records in 4096 40960; do
  run=$(count "$records" --toggle-collect='UpdateFlow::Run(*')
  engine_only=$(count "$records" --toggle-collect='UpdateFlow::Run(*' \
                  --toggle-collect='*InstantDevice::*')
  check=$(count "$records" --toggle-collect='UpdateFlow::OpenHexFile(*')
  whole=$(count "$records")
  awk -v n="$records" -v run="$run" -v eng="$engine_only" -v chk="$check" -v whole="$whole" \
    'BEGIN { printf "%8d %12d %10.1f %10.1f %10.1f %12d\n", n, run, run / n, eng / n, chk / n, whole }'
done
