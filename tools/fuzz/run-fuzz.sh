#!/usr/bin/env bash
# Fuzzes the two inputs a user hands the flasher, the firmware file and the
# settings file, with libFuzzer under AddressSanitizer and UBSan.
#
#   tools/fuzz/run-fuzz.sh [SECONDS]     each target runs SECONDS (default 60)
#
# Builds the targets with clang in build/fuzz, runs both side by side, each
# on a scratch copy of its seed corpus (tests/fuzz/corpus/KIND) so the repo's
# corpus never grows, and fails when either leaves a crash, leak, timeout or
# out-of-memory file. Findings are copied to build/fuzz/findings/KIND/; keep
# each as tests/fuzz/regressions/KIND/NAME so the replay test runs it.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi

build=$root/build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
flags+=" -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target tarvex_fuzz_hex tarvex_fuzz_settings

run=$build/run
rm -rf "$run"
mkdir -p "$build/findings"

# Per target: longest input, and the dictionary if there is one.
declare -A max_len=([hex]=4096 [settings]=1024)

start() {
  local kind=$1
  local dir=$run/$kind
  mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
  cp "$root/tests/fuzz/corpus/$kind/"* "$dir/corpus/"
  local extra=()
  if [[ -f $root/tests/fuzz/$kind.dict ]]; then extra+=("-dict=$root/tests/fuzz/$kind.dict"); fi
  # Scratch files of the harness go below the run directory, so even a crash
  # leaves nothing in /tmp.
  TMPDIR=$dir/tmp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/tests/fuzz/tarvex_fuzz_$kind" \
    -max_total_time="$seconds" -max_len="${max_len[$kind]}" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "${extra[@]}" \
    "$dir/corpus" >"$dir/fuzz.log" 2>&1
}

declare -A pid
for kind in hex settings; do
  start "$kind" &
  pid[$kind]=$!
done

failed=0
for kind in hex settings; do
  status=0
  wait "${pid[$kind]}" || status=$?
  dir=$run/$kind
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log" | tail -1)
  added=$(sed -n 's/^stat::new_units_added: *//p' "$dir/fuzz.log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]*' "$dir/fuzz.log" | tail -1 | cut -d' ' -f2)
  seeds=$(find "$root/tests/fuzz/corpus/$kind" -type f | wc -l)
  corpus=$(find "$dir/corpus" -type f | wc -l)
  printf '%-8s %s s: %s inputs run, %s new, corpus %s -> %s, coverage %s edges, exit %s\n' \
    "$kind" "$seconds" "${runs:-?}" "${added:-?}" "$seeds" "$corpus" "${coverage:-?}" "$status"
  findings=("$dir"/artifacts/*)
  if [[ -e ${findings[0]} ]] || ((status != 0)); then
    failed=1
    mkdir -p "$build/findings/$kind"
    if [[ -e ${findings[0]} ]]; then cp "${findings[@]}" "$build/findings/$kind/"; fi
    echo "FINDING in $kind (log: $dir/fuzz.log):"
    grep -E 'invariant broken|ERROR: |SUMMARY: |runtime error' "$dir/fuzz.log" | head -20 || true
    for file in "${findings[@]}"; do [[ -e $file ]] && echo "  input: $build/findings/$kind/$(basename "$file")"; done
  fi
done

if ((failed)); then
  echo "fuzz: findings above; keep each input as tests/fuzz/regressions/KIND/NAME"
  exit 1
fi
echo "fuzz: no findings"
