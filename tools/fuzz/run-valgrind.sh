#!/usr/bin/env bash
# Runs the soak, many updates in one process against the pager emulator,
# under valgrind, and fails on any memory error, any lost block and any
# descriptor the program opened and left open.
#
#   tools/fuzz/run-valgrind.sh [UPDATES]     default 100
#
# Uses the native build (preset linux). The soak itself also compares the
# descriptors in /proc/self/fd before and after and exits non-zero when they
# differ.
set -euo pipefail
cd "$(dirname "$0")/../.."

updates=${1:-100}
if ! [[ $updates =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [UPDATES]" >&2
  exit 2
fi

cmake --preset linux >/dev/null
cmake --build --preset linux --target tarvex_soak pagersim

log=build/linux/valgrind-soak.log
status=0
valgrind --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=1 --track-fds=yes \
  --log-file="$log" build/linux/tests/faults/tarvex_soak "$updates" </dev/null || status=$?

# Descriptors open at exit that the program opened itself (valgrind lists the
# inherited ones too, and marks them).
left_open=$(awk '
  /Open file descriptor [0-9]+:/ { pending = $0; next }
  pending != "" && /<inherited from parent>/ { pending = ""; next }
  pending != "" && /==[0-9]+== *$/ { print pending; pending = ""; next }
  pending != "" && /==[0-9]+==  +at / { print pending; pending = ""; next }
' "$log")

# valgrind counts every descriptor open at exit, the standard three and the
# ones the soak was started with (its log's among them) too: told apart
# here, so the count does not read as descriptors left open.
read -r open_at_exit std_at_exit < <(
  sed -n 's/.*FILE DESCRIPTORS: \([0-9]*\) open (\([0-9]*\) std) at exit.*/\1 \2/p' "$log")
inherited=$(grep -c '<inherited from parent>' "$log" || true)
echo "descriptors open at exit: ${open_at_exit:-?} (${std_at_exit:-?} standard, $inherited inherited" \
  "from the parent, $(grep -c . <<<"$left_open") opened by the soak)"
grep -E 'in use at exit|total heap usage|ERROR SUMMARY' "$log" | sed 's/^==[0-9]*== //'
if [[ -n $left_open ]]; then
  echo "valgrind: descriptors left open:"
  echo "$left_open"
  status=1
fi
if ((status != 0)); then
  echo "valgrind: FAILED (exit $status), full report in $log"
  exit 1
fi
echo "valgrind: no errors, no leaks, no descriptor of the soak's left open"
