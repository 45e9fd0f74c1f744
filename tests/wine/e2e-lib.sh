# shellcheck shell=bash
# Pieces for driving TarvexUpd.exe under Wine from outside: a virtual X
# display, a private Wine prefix whose programs all share one Wine desktop,
# the pager emulator behind COM1/COM2, the program in a directory of its own,
# key strokes with xdotool, and tarvex-probe.exe to read the window.
#
# Sourced by the Wine end-to-end tests, the demos and bench/window-span.sh.
# Call e2e_init first; e2e_cleanup (which e2e_init installs as the EXIT
# trap) stops every process started here.

E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# e2e_init ROOT BUILD_DIR PAGERSIM PREFIX WORK_DIR [PROBE_EXE]
e2e_init() {
  E2E_ROOT=$1
  E2E_BUILD=$2
  E2E_PAGERSIM=$3
  E2E_PREFIX=$4
  E2E_WORK=$5
  E2E_PROBE=${6:-$E2E_BUILD/tests/wine/tarvex-probe.exe}
  E2E_EXE=$E2E_BUILD/shell/TarvexUpd.exe
  E2E_XVFB_PID=
  E2E_APP_PID=
  E2E_APP_DIR=
  E2E_PAGER_PORTS=()
  export WINEPREFIX=$E2E_PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A UTF-8 locale that every Debian has: Wine reads the names of the Linux
  # files as UTF-8 and gives Windows programs the ANSI code page 1252 of a
  # Western-European Windows, which lacks most of the world's letters.
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
  mkdir -p "$E2E_WORK"
  E2E_LOG=$E2E_WORK/driver.log
  : >"$E2E_LOG"
  trap e2e_cleanup EXIT
  trap 'exit 130' INT TERM HUP
}

e2e_note() { echo "$(date +%T.%3N) $*" >>"$E2E_LOG"; }

e2e_die() {
  echo "error: $*" >&2
  exit 2
}

e2e_require() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || e2e_die "$tool is missing (run tools/install-deps.sh)"
  done
  [[ -x $E2E_PAGERSIM ]] || e2e_die "no pager emulator at $E2E_PAGERSIM (build the linux preset)"
  [[ -f $E2E_EXE ]] || e2e_die "no $E2E_EXE (build the windows preset)"
}

# The probe is a small console program of its own, built with the same
# cross compiler as the application when it is missing or older than its
# source.
e2e_build_probe() {
  local source=$E2E_LIB_DIR/probe.cpp
  if [[ -f $E2E_PROBE && $E2E_PROBE -nt $source && $E2E_PROBE -nt $E2E_LIB_DIR/ProbeSupport.h ]]; then
    return 0
  fi
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || e2e_die "x86_64-w64-mingw32-g++-posix is missing"
  mkdir -p "$(dirname "$E2E_PROBE")"
  x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -static -I"$E2E_ROOT" \
    -o "$E2E_PROBE" "$source" -lgdi32 -luser32 || e2e_die "cannot build $E2E_PROBE"
}

# The native helper that drops files on a window (xdnd-drop.cpp), built the
# same way beside the probe.
e2e_build_dropper() {
  local source=$E2E_LIB_DIR/xdnd-drop.cpp
  E2E_DROPPER=$(dirname "$E2E_PROBE")/xdnd-drop
  if [[ -x $E2E_DROPPER && $E2E_DROPPER -nt $source ]]; then return 0; fi
  g++ -std=c++20 -O2 -Wall -Wextra -o "$E2E_DROPPER" "$source" -lX11 ||
    e2e_die "cannot build $E2E_DROPPER (libx11-dev?)"
}

# e2e_drop_file PATH: drops the file on the middle of the program's window,
# as one dragged from a file manager, whose URI has its bytes beyond ASCII
# (and its blanks) percent-encoded.
e2e_drop_file() {
  local window x y w h uri
  window=$(value_of window "$(probe rects)")
  IFS=, read -r x y w h <<<"$window"
  uri=$(python3 -c 'import sys, urllib.parse; print("file://" + urllib.parse.quote(sys.argv[1]))' \
    "$(realpath -m "$1")")
  e2e_note "drop $1 as $uri"
  "$E2E_DROPPER" $((x + w / 2)) $((y + h / 2)) "$uri"$'\r\n' 2>>"$E2E_LOG"
}

# Starts Xvfb on a display number it picks itself, and exports DISPLAY.
e2e_start_xvfb() {
  local display_file=$E2E_WORK/xvfb.display
  : >"$display_file"
  Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$display_file" \
    >"$E2E_WORK/xvfb.log" 2>&1 </dev/null &
  E2E_XVFB_PID=$!
  for _ in $(seq 100); do
    [[ -s $display_file ]] && break
    kill -0 "$E2E_XVFB_PID" 2>/dev/null || e2e_die "Xvfb did not start: $(cat "$E2E_WORK/xvfb.log")"
    sleep 0.1
  done
  [[ -s $display_file ]] || e2e_die "Xvfb did not report its display"
  DISPLAY=:$(head -n1 "$display_file" | tr -d '[:space:]')
  export DISPLAY
  e2e_note "Xvfb $E2E_XVFB_PID on $DISPLAY"
}

# e2e_prepare_prefix [desktop|windows]: the private prefix. With "desktop"
# (the default) every program of it runs on one Wine desktop: with no window
# manager, that keeps the keyboard focus where Windows would put it, and lets
# the probe see the program's windows. With "windows" each window is a window
# of the display, for a person at a desktop with a window manager.
e2e_prepare_prefix() {
  local mode=${1:-desktop}
  bash "$E2E_ROOT/tools/wine/setup-prefix.sh" "$E2E_PREFIX" || e2e_die "cannot set up $E2E_PREFIX"
  # A wineserver left from an earlier run would keep a desktop on a display
  # that is gone.
  wineserver -k 2>/dev/null || true
  if [[ $mode == desktop ]]; then
    if ! wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d tarvex /f \
           >/dev/null 2>&1 ||
       ! wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v tarvex /t REG_SZ /d 800x600 /f \
           >/dev/null 2>&1; then
      e2e_die "cannot set the Wine desktop in $E2E_PREFIX"
    fi
  else
    wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 || true
  fi
}

# e2e_pager_start comN OUT_DIR [pagersim options...]: the emulator behind
# COM port N, writing pager.log and image.hex into OUT_DIR when stopped.
e2e_pager_start() {
  local port=$1 out=$2
  shift 2
  mkdir -p "$out"
  rm -f "$out/pager.log" "$out/image.hex"
  bash "$E2E_ROOT/tools/wine/pager-on-com.sh" start "$E2E_PREFIX" "$port" "$E2E_PAGERSIM" \
    --log "$out/pager.log" --image-hex "$out/image.hex" "$@" || return 1
  E2E_PAGER_PORTS+=("$port")
  e2e_note "pager on $port: $*"
}

# Stopping writes the emulator's log and image.
e2e_pager_stop() {
  bash "$E2E_ROOT/tools/wine/pager-on-com.sh" stop "$E2E_PREFIX" "$1"
}

# Runs the probe; its output without the CR of the console's line ends.
probe() {
  wine "$E2E_PROBE" "$@" 2>>"$E2E_LOG" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# The value of KEY in probe output text.
value_of() {
  local key=$1 text=$2
  sed -n "s/^$key=//p" <<<"$text" | head -n1
}

# e2e_app_start DIR [ARG...]: TarvexUpd.exe with DIR as its current
# directory and ARGs on its command line; waits for its main window and puts
# the pointer on its title bar, where key strokes reach it.
e2e_app_start() {
  E2E_APP_DIR=$1
  shift
  mkdir -p "$E2E_APP_DIR"
  (cd "$E2E_APP_DIR" && exec wine "$E2E_EXE" "$@") >>"$E2E_WORK/app.out" 2>&1 </dev/null &
  E2E_APP_PID=$!
  e2e_note "app $E2E_APP_PID in $E2E_APP_DIR"
  if ! probe main 30000 >/dev/null; then
    e2e_note "main window did not appear"
    return 1
  fi
  e2e_point_at_window
}

e2e_point_at_window() {
  local rects window x y w h
  rects=$(probe rects) || return 1
  window=$(value_of window "$rects")
  IFS=, read -r x y w h <<<"$window"
  xdotool mousemove $((x + w / 2)) $((y + 8))
}

# Waits up to SECONDS for the program to end by itself.
e2e_app_wait_exit() {
  local seconds=$1
  [[ -n $E2E_APP_PID ]] || return 0
  for _ in $(seq $((seconds * 10))); do
    if ! kill -0 "$E2E_APP_PID" 2>/dev/null; then
      wait "$E2E_APP_PID" 2>/dev/null
      E2E_APP_PID=
      return 0
    fi
    sleep 0.1
  done
  return 1
}

e2e_app_kill() {
  [[ -n $E2E_APP_PID ]] || return 0
  kill "$E2E_APP_PID" 2>/dev/null
  e2e_app_wait_exit 5 || { kill -9 "$E2E_APP_PID" 2>/dev/null; wait "$E2E_APP_PID" 2>/dev/null; }
  E2E_APP_PID=
}

# Key strokes, one after another, with time for each to be handled.
keys() {
  e2e_note "keys $*"
  local key
  for key in "$@"; do
    xdotool key "$key"
    sleep 0.15
  done
}

# Waits until the probe's state shows KEY=VALUE; prints the last state.
e2e_wait_state() {
  local key=$1 want=$2 seconds=${3:-10} state
  for _ in $(seq $((seconds * 3))); do
    state=$(probe state)
    if [[ $(value_of "$key" "$state") == "$want" ]]; then
      printf '%s\n' "$state"
      return 0
    fi
    sleep 0.2
  done
  printf '%s\n' "$state"
  return 1
}

# File, Open..., the path typed into the dialog, Enter. A path with letters
# beyond ASCII is pasted instead, as xdotool's key strokes for letters the
# keyboard lacks may come out as others. Returns once the file-name box shows
# a name ending in the typed one's last part.
e2e_open_file() {
  local path=$1
  keys alt+f o
  probe dialog 10000 >/dev/null || { e2e_note "no open dialog"; return 1; }
  if LC_ALL=C grep -q '[^ -~]' <<<"$path"; then
    printf '%s' "$path" | probe clipboard >/dev/null || { e2e_note "clipboard refused"; return 1; }
    keys ctrl+v
  else
    xdotool type --delay 15 "$path"
  fi
  keys Return
  local name=${path##*[\\/]} state
  for _ in $(seq 30); do
    state=$(probe state)
    [[ $(value_of file "$state") == *"$name" ]] && return 0
    sleep 0.2
  done
  e2e_note "file name not taken: $state"
  return 1
}

# The Windows form of a path on this machine (drive Z: is the root).
e2e_windows_path() {
  local path
  path=$(realpath -m "$1")
  echo "Z:${path//\//\\}"
}

# e2e_screenshot OUT.png: the program's window and a margin, from the screen.
# Prints the progress bar's rectangle within the picture as X,Y,W,H.
e2e_screenshot() {
  local out=$1 rects window bar x y w h bx by bw bh margin=12
  rects=$(probe rects) || return 1
  window=$(value_of window "$rects")
  bar=$(value_of progressbar "$rects")
  IFS=, read -r x y w h <<<"$window"
  IFS=, read -r bx by bw bh <<<"$bar"
  mkdir -p "$(dirname "$out")"
  import -window root -crop "$((w + 2 * margin))x$((h + 2 * margin))+$((x - margin))+$((y - margin))" \
    +repage "$out" || return 1
  echo "$((bx - x + margin)),$((by - y + margin)),$bw,$bh"
}

# e2e_bar_fill PNG X,Y,W,H: how much of the progress bar in the picture is
# filled, in percent, judged along its middle row: the filled part reaches to
# the last pixel of the inner left-most colour (a bar drawn in blocks has gaps
# of the empty colour within it), and everything after it is one other
# colour. Prints -1 for a bar of one colour, -2 for a mixed empty part.
e2e_bar_fill() {
  local png=$1 x y w h
  IFS=, read -r x y w h <<<"$2"
  convert "$png" -crop "$((w - 4))x1+$((x + 2))+$((y + h / 2))" +repage txt:- 2>/dev/null |
    awk '/^[0-9]/ { for (i = 1; i <= NF; i++) if ($i ~ /^#/) { print $i; break } }' |
    awk '{ c[n++] = $1 }
         END {
           if (n == 0) { print -1; exit }
           last = -1
           for (i = 0; i < n; i++) if (c[i] == c[0]) last = i
           if (last == n - 1) { print -1; exit }
           for (i = last + 1; i < n; i++) if (c[i] != c[last + 1]) { print -2; exit }
           printf "%d\n", (last + 1) * 100 / n
         }'
}

e2e_cleanup() {
  local status=$?
  trap - EXIT
  if [[ -n ${E2E_APP_PID:-} ]]; then
    kill "$E2E_APP_PID" 2>/dev/null
    sleep 0.2
    kill -9 "$E2E_APP_PID" 2>/dev/null
  fi
  local port
  for port in "${E2E_PAGER_PORTS[@]:-}"; do
    [[ -n $port ]] && e2e_pager_stop "$port" 2>/dev/null
  done
  if [[ -n ${WINEPREFIX:-} ]]; then wineserver -k 2>/dev/null; fi
  if [[ -n ${E2E_XVFB_PID:-} ]]; then
    kill "$E2E_XVFB_PID" 2>/dev/null
    wait "$E2E_XVFB_PID" 2>/dev/null
  fi
  exit "$status"
}

# ---------------------------------------------------------------------------
# Cases, as run-e2e.sh and run-bench-e2e.sh run them: each case_NAME function
# checks with fail/expect and ends with report; the script names its cases
# with run_case and ends with e2e_summary. The names given with --only are in
# the script's array `only`; e2e_case_cleanup, which the script defines,
# stops whatever a case left running.

passed=0
failed=0
problems=()
case_start=$SECONDS

# e2e_fresh_work_dir SCRIPT DIR: empties DIR, but only a work folder of an
# earlier run (or an empty one).
e2e_fresh_work_dir() {
  local script=$1 dir=$2
  if [[ -d $dir && -n $(ls -A "$dir") && ! -f $dir/driver.log ]]; then
    echo "$script: $dir is not a work folder of an earlier run; not emptying it" >&2
    exit 2
  fi
  rm -rf "$dir"
}

fail() {
  problems+=("$*")
  e2e_note "problem: $*"
}

# expect WHAT GOT WANT
expect() {
  [[ $2 == "$3" ]] || fail "$1: got '$2', want '$3'"
}

# report NAME: PASS or FAIL with what went wrong since the last report.
report() {
  if ((${#problems[@]} == 0)); then
    echo "PASS $1 ($((SECONDS - case_start)) s)"
    ((passed++))
  else
    echo "FAIL $1 ($((SECONDS - case_start)) s)"
    printf '     %s\n' "${problems[@]}"
    ((failed++))
  fi
  problems=()
  case_start=$SECONDS
}

# shellcheck disable=SC2154 # `only` is the script's array of --only names.
wanted() {
  ((${#only[@]} == 0)) && return 0
  local name
  for name in "${only[@]}"; do [[ $name == "$1" ]] && return 0; done
  return 1
}

run_case() {
  local name=$1
  wanted "$name" || return 0
  e2e_note "=== case $name"
  case_start=$SECONDS
  "case_$name" || { fail "stopped early"; report "$name"; }
  ((${#problems[@]} == 0)) || report "$name"
  e2e_app_kill
  e2e_case_cleanup
}

# The last lines, and the exit status: 0 only when every case passed.
e2e_summary() {
  echo "(${SECONDS}s in all; logs in $E2E_WORK)"
  echo "$passed passed, $failed failed"
  ((failed == 0 && passed > 0))
}
