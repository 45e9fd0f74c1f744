#!/usr/bin/env bash
# Starts or stops the pager emulator behind a COM port of a Wine prefix.
#
#   tools/wine/pager-on-com.sh start PREFIX comN PAGERSIM [pagersim options...]
#   tools/wine/pager-on-com.sh stop  PREFIX comN
set -euo pipefail
action=${1:?}; prefix=$(realpath -m "${2:?}"); port=${3:?}
link=$prefix/tarvex-$port
pidfile=$prefix/tarvex-$port.pid

stop() {
  if [[ -f $pidfile ]]; then
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$pidfile"
  fi
}

case $action in
  start)
    pagersim=${4:?}; shift 4
    stop
    "$pagersim" --link "$link" "$@" >"$prefix/tarvex-$port.out" 2>&1 </dev/null &
    echo $! >"$pidfile"
    for _ in $(seq 100); do [[ -L $link ]] && exit 0; sleep 0.05; done
    echo "pager emulator did not come up on $link" >&2
    cat "$prefix/tarvex-$port.out" >&2
    exit 1
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop PREFIX comN [PAGERSIM options]" >&2; exit 2 ;;
esac
