#!/usr/bin/env bash
# Joins two COM ports of a Wine prefix (made by setup-prefix.sh), as two
# adapters wired TX to RX, or a virtual null-modem pair, join them on a PC:
# what a program writes on one, a program on the other reads. Two
# pseudo-terminals, linked by socat.
#
#   tools/wine/com-pair.sh start PREFIX comA comB
#   tools/wine/com-pair.sh stop  PREFIX comA comB
set -euo pipefail
action=${1:?}; prefix=$(realpath -m "${2:?}"); first=${3:?}; second=${4:?}
links=("$prefix/tarvex-$first" "$prefix/tarvex-$second")
pidfile=$prefix/tarvex-$first-$second.pids

stop() {
  [[ -f $pidfile ]] || return 0
  local pid
  for pid in $(cat "$pidfile"); do kill "$pid" 2>/dev/null || true; done
  for pid in $(cat "$pidfile"); do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  done
  rm -f "$pidfile"
}

case $action in
  start)
    command -v socat >/dev/null || { echo "com-pair.sh: socat is missing (tools/install-deps.sh)" >&2; exit 1; }
    stop
    rm -f "${links[@]}"
    socat pty,raw,echo=0,link="${links[0]}" pty,raw,echo=0,link="${links[1]}" </dev/null \
      >"$prefix/tarvex-$first-$second.out" 2>&1 &
    socat_pid=$!
    for _ in $(seq 100); do [[ -L ${links[0]} && -L ${links[1]} ]] && break; sleep 0.05; done
    if [[ ! -L ${links[0]} || ! -L ${links[1]} ]]; then
      echo "com-pair.sh: no linked pair on $first and $second" >&2
      cat "$prefix/tarvex-$first-$second.out" >&2
      kill "$socat_pid" 2>/dev/null || true
      exit 1
    fi
    # socat ends when a program closes either end, as the flasher does to
    # change the rate: both ends are held open here meanwhile.
    sleep infinity 3<>"${links[0]}" 4<>"${links[1]}" </dev/null >/dev/null 2>&1 &
    echo "$socat_pid $!" >"$pidfile"
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop PREFIX comA comB" >&2; exit 2 ;;
esac
