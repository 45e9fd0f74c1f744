#!/usr/bin/env bash
# Many benches' logs in one PostgreSQL table, tried on one machine with the
# parts a factory would use: Debian's rsyslog (imfile, RELP) and PostgreSQL.
#
#   bash tools/fleet/try-fleet.sh [--pagers N] [--keep]
#
# Starts a throwaway PostgreSQL cluster on 127.0.0.1 with schema.sql, a
# collector (collector.conf) and two bench shippers (bench-shipper.conf),
# each rsyslogd in a folder of its own with its own work directory; then
# two `tarvex-flash --station` benches, each on two emulated ports where
# pagers come and go (N per port, default 2). When the first line is in the
# database it stops the collector for 5 s, restarting a shipper that holds
# lines meanwhile, and starts it again. Once the benches have ended and the
# shippers have drained, it compares the benches' logs with the table and
# prints
#
#   logged N, in the database N, duplicates 0
#
# Exit 0 when every line is there once with its record_id, station, number,
# outcome and sha256; 1 when not; 2 when it could not set up; 77 when the
# packages it needs cannot be installed. It stops everything it started and
# removes its folder (kept with --keep). As root the database and the
# rsyslogs run as the user nobody; the system's own rsyslog and PostgreSQL
# are not touched.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
fleet=$root/tools/fleet
pagers=2
keep=false
outage_seconds=5

while (($# > 0)); do
  case $1 in
    --pagers)
      [[ ${2:-} =~ ^[1-9]$ ]] || { echo "try-fleet: --pagers takes 1 to 9" >&2; exit 2; }
      pagers=$2
      shift 2
      ;;
    --keep) keep=true; shift ;;
    -h | --help) sed -n '2,/^set -uo/{/^#/s/^# \{0,1\}//p}' "$0"; exit 0 ;;
    *) echo "try-fleet: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

step() { echo "== $*"; }
setup_failed() {
  echo "try-fleet: $*" >&2
  exit 2
}

# ---- What it needs -----------------------------------------------------------

packages=(rsyslog rsyslog-relp rsyslog-pgsql postgresql)

missing_packages() {
  local package
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      echo "$package"
  done
}

# rsyslog-pgsql would offer to set up a database of its own for the system's
# rsyslog: declined, as the table here is made by schema.sql.
install_packages() {
  local missing sudo=()
  mapfile -t missing < <(missing_packages)
  ((${#missing[@]} == 0)) && return 0
  step "Installing ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    sudo -n true 2>/dev/null || return 1
    sudo=(sudo)
  fi
  echo "rsyslog-pgsql rsyslog-pgsql/dbconfig-install boolean false" |
    "${sudo[@]}" debconf-set-selections &&
    "${sudo[@]}" apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
}

if ! install_packages; then
  echo "try-fleet: skipped: ${packages[*]} could not be installed" \
    "(run as root, or as a user sudo lets install them)" >&2
  exit 77
fi

flash=$root/build/linux/cli/tarvex-flash
pagersim=$root/build/linux/tools/pagersim/pagersim
firmware=$root/samples/pager-demo.hex
if [[ ! -x $flash || ! -x $pagersim ]]; then
  step "Building tarvex-flash and pagersim (linux preset)"
  (cd "$root" && cmake --preset linux >/dev/null &&
    cmake --build --preset linux --target tarvex-flash pagersim) ||
    setup_failed "the build failed"
fi

pg_bin=$(find /usr/lib/postgresql -maxdepth 2 -name bin -type d 2>/dev/null | sort -V | tail -n1)
[[ -x $pg_bin/initdb ]] || setup_failed "PostgreSQL's initdb is not under /usr/lib/postgresql"
command -v rsyslogd >/dev/null || setup_failed "rsyslogd is not installed"

# ---- Its folder, its user, its ports ---------------------------------------------

work=$(mktemp -d /tmp/tarvex-fleet.XXXXXX) || setup_failed "no folder in /tmp"
chmod 755 "$work"
# Root runs the servers as nobody: they need no privilege, and initdb
# refuses root.
if [[ $(id -u) -eq 0 ]]; then
  as_server=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  server_owner=nobody:nogroup
else
  as_server=()
  server_owner=
fi

# A folder the servers own.
server_folder() {
  mkdir -p "$1"
  [[ -z $server_owner ]] || chown "$server_owner" "$1"
}

# Two free TCP ports on the loopback address: PostgreSQL's and RELP's.
read -r pg_port relp_port < <(python3 -c '
import socket
held = [socket.socket() for _ in range(2)]
for s in held:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in held))')
[[ -n ${relp_port:-} ]] || setup_failed "no free TCP port on 127.0.0.1"

# ---- Stopping everything it started --------------------------------------------

started_pids=()
database_started=false

# stop_pid PID: SIGTERM, and SIGKILL after 10 s.
stop_pid() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
}

clean_up() {
  local pid
  for pid in "${started_pids[@]}"; do stop_pid "$pid"; done
  wait 2>/dev/null
  if $database_started; then
    "${as_server[@]}" "$pg_bin/pg_ctl" -D "$work/db/data" -m fast -w stop >/dev/null 2>&1
  fi
  if $keep; then
    echo "try-fleet: kept $work"
  else
    rm -rf "$work"
  fi
}
trap clean_up EXIT
trap 'exit 130' INT TERM HUP PIPE

# ---- The database ------------------------------------------------------------------

sql() {
  psql -h 127.0.0.1 -p "$pg_port" -U tarvex -d factory -X -q -A -t -v ON_ERROR_STOP=1 "$@"
}

start_database() {
  server_folder "$work/db"
  "${as_server[@]}" "$pg_bin/initdb" -D "$work/db/data" -U tarvex --auth=trust -E UTF8 \
    --locale=C >"$work/db/initdb.log" 2>&1 || return 1
  database_started=true
  "${as_server[@]}" "$pg_bin/pg_ctl" -D "$work/db/data" -l "$work/db/postgres.log" -w \
    -o "-c listen_addresses=127.0.0.1 -p $pg_port -k $work/db -c track_functions=pl" \
    start >/dev/null || return 1
  psql -h 127.0.0.1 -p "$pg_port" -U tarvex -d postgres -X -q -c "CREATE DATABASE factory" &&
    sql -f "$fleet/schema.sql" &&
    sql -c "CREATE ROLE tarvex_collector LOGIN;
            GRANT EXECUTE ON FUNCTION store_bench_line(text, text) TO tarvex_collector;"
}

step "A PostgreSQL cluster on 127.0.0.1:$pg_port with tools/fleet/schema.sql"
start_database || setup_failed "PostgreSQL did not start (see $work/db)"

# The table's rules, tried and taken back: a line stored twice is one row;
# one from before record ids, sent twice, is one row named for its sender;
# one that is no JSON object is set aside.
rules=$(sql -c "BEGIN;
  SELECT store_bench_line(line, 'pc-7') FROM (VALUES
    ('{\"record_id\":\"958a22ec-8436-48a4-9a66-926690ceb124\",\"station\":\"b2\",\"time\":\"2026-12-08T09:31:35Z\"}'),
    ('{\"record_id\":\"958a22ec-8436-48a4-9a66-926690ceb124\",\"station\":\"b2\",\"time\":\"2026-12-08T09:31:35Z\"}'),
    ('{\"time\":\"2026-12-08T09:31:36Z\",\"outcome\":\"finished\"}'),
    ('{\"time\":\"2026-12-08T09:31:36Z\",\"outcome\":\"finished\"}'),
    ('{\"time\":\"2026-12-08T09:31:3'), ('[1]')) AS sent (line);
  SELECT string_agg(station, ',' ORDER BY station) || ' ' || (SELECT count(*) FROM rejected_line)
    FROM pager_record;
  ROLLBACK;" | grep -v '^$')
if [[ $rules != "b2,pc-7 2" ]]; then
  echo "try-fleet: schema.sql's rules do not hold: stations, lines set aside: $rules" >&2
  exit 1
fi
store_calls() {
  sql -c "SELECT coalesce(sum(calls), 0) FROM pg_stat_user_functions
          WHERE funcname = 'store_bench_line'"
}
calls_before=$(store_calls)

# ---- The rsyslogs ------------------------------------------------------------------

# rsyslog_folder DIR CONF SED: DIR/rsyslog.conf is a work directory of its
# own and CONF as shipped, with SED's edits for this machine.
rsyslog_folder() {
  local dir=$1 conf=$2 edits=$3
  server_folder "$dir"
  server_folder "$dir/work"
  sed -e "$edits" "$fleet/$conf" >"$dir/$conf"
  printf 'global(workDirectory="%s")\ninclude(file="%s")\n' "$dir/work" "$dir/$conf" \
    >"$dir/rsyslog.conf"
  rsyslogd -N1 -f "$dir/rsyslog.conf" >"$dir/check.log" 2>&1 ||
    setup_failed "rsyslogd refuses $dir/rsyslog.conf (see $dir/check.log)"
}

# start_rsyslog DIR: in the foreground of a background job, so its PID is
# the job's.
declare -A rsyslog_pid
start_rsyslog() {
  local dir=$1
  rm -f "$dir/rsyslogd.pid"
  "${as_server[@]}" rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslogd.pid" \
    >>"$dir/rsyslogd.log" 2>&1 &
  rsyslog_pid[$dir]=$!
  started_pids+=($!)
}

stop_rsyslog() {
  stop_pid "${rsyslog_pid[$1]}"
  wait "${rsyslog_pid[$1]}" 2>/dev/null
}

# Whether something listens on the collector's RELP port.
collector_listens() { (exec 3<>"/dev/tcp/127.0.0.1/$relp_port") 2>/dev/null; }

# wait_until SECONDS COMMAND...: true once COMMAND is, tried every tenth
# of a second.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

collector=$work/collector
step "A collector (tools/fleet/collector.conf) on RELP port $relp_port"
rsyslog_folder "$collector" collector.conf \
  "s/port=\"2514\"/port=\"$relp_port\"/; s/@db.factory.example/@127.0.0.1:$pg_port/"
start_rsyslog "$collector"
wait_until 20 collector_listens || setup_failed "the collector did not start (see $collector)"

benches=(bench-a bench-b)
step "Two bench shippers (tools/fleet/bench-shipper.conf): ${benches[*]}"
for bench in "${benches[@]}"; do
  dir=$work/$bench
  # The bench writes its log as the user running this; the shipper only reads it.
  mkdir -p "$dir/log"
  chmod 755 "$dir" "$dir/log"
  rsyslog_folder "$dir/shipper" bench-shipper.conf \
    "s|/var/log/tarvex/bench.jsonl|$dir/log/bench.jsonl|; s/collector.factory.example/127.0.0.1/; s/port=\"2514\"/port=\"$relp_port\"/"
  start_rsyslog "$dir/shipper"
done

# ---- The benches ---------------------------------------------------------------------

# start_bench NAME ATTACH_MS: two emulated ports, each with $pagers pagers
# one after another (the first connected after ATTACH_MS, each left on the
# cable a second after its update, the cable then empty for 0.4 s), and a
# station that flashes them all.
declare -A bench_pid
start_bench() {
  local name=$1 attach=$2 dir=$work/$1 port
  for port in 1 2; do
    "$pagersim" --pace --sessions "$pagers" --attach-after "$attach" --linger-ms 1000 \
      --gap-ms 400 --link "$dir/pager$port" >"$dir/pagersim$port.log" 2>&1 &
    started_pids+=($!)
  done
  wait_until 10 test -e "$dir/pager1" -a -e "$dir/pager2" ||
    setup_failed "the emulators of $name did not start (see $dir)"
  "$flash" --station -b 9600 -p "$dir/pager1" -p "$dir/pager2" --count $((2 * pagers)) \
    --log "$dir/log/bench.jsonl" --station-name "$name" "$firmware" >"$dir/tarvex-flash.log" 2>&1 &
  bench_pid[$name]=$!
  started_pids+=($!)
}

lines_in() { [[ -f $1 ]] && wc -l <"$1" || echo 0; }
logged_lines() { cat "$work"/bench-*/log/bench.jsonl 2>/dev/null | wc -l; }
rows_stored() { sql -c "SELECT count(*) FROM pager_record" 2>/dev/null || echo -1; }
some_row_stored() { (($(rows_stored) > 0)); }

pagers_a_port="$pagers pager$( ((pagers == 1)) || echo s) a port"
step "Two benches, tarvex-flash --station on two emulated ports each, $pagers_a_port"
start_bench bench-a 0
# The second bench's pagers come 3 s later, so that lines are written while
# the collector is down.
start_bench bench-b 3000

wait_until 90 some_row_stored || { echo "try-fleet: no line reached the database" >&2; exit 1; }
logged_before=$(logged_lines)
declare -A lines_before
for bench in "${benches[@]}"; do lines_before[$bench]=$(lines_in "$work/$bench/log/bench.jsonl"); done
step "The first line is in the database: the collector stops for $outage_seconds s"
stop_rsyslog "$collector"
down_at=$SECONDS
restarted="no shipper"
while ((SECONDS - down_at < outage_seconds)); do
  for bench in "${benches[@]}"; do
    # The first shipper with a line for the collector is restarted: its
    # lines wait on disk meanwhile.
    if [[ $restarted == "no shipper" ]] &&
      (($(lines_in "$work/$bench/log/bench.jsonl") > lines_before[$bench])); then
      sleep 1
      stop_rsyslog "$work/$bench/shipper"
      start_rsyslog "$work/$bench/shipper"
      restarted="the shipper of $bench"
    fi
  done
  sleep 0.2
done
logged_while_down=$(($(logged_lines) - logged_before))
start_rsyslog "$collector"
wait_until 20 collector_listens || { echo "try-fleet: the collector did not start again" >&2; exit 1; }
echo "   $logged_while_down lines logged while it was down; $restarted restarted meanwhile"

step "The benches end; the shippers drain"
for bench in "${benches[@]}"; do
  if ! wait_until 120 eval "! kill -0 ${bench_pid[$bench]} 2>/dev/null"; then
    echo "try-fleet: $bench did not end within 2 minutes (see $work/$bench)" >&2
    stop_pid "${bench_pid[$bench]}"
  fi
  wait "${bench_pid[$bench]}" 2>/dev/null
  echo "   $bench: tarvex-flash exit $?, $(lines_in "$work/$bench/log/bench.jsonl") lines"
done
logged=$(logged_lines)
drained() { (($(rows_stored) >= logged)); }
wait_until 60 drained
# A moment for a line sent twice to come twice, then the collector ends,
# its connection with it, so that the database has counted every call.
sleep 2
stop_rsyslog "$collector"
deliveries=$(($(store_calls) - calls_before))
echo "   the collector handed the database $deliveries lines"

# ---- The comparison --------------------------------------------------------------------

# Every log line, as text, beside the table: a delimiter and a quote that no
# line holds, so the lines are read as they are.
read_logs() {
  local bench
  sql -c "CREATE TABLE logged (line text)" || return 1
  for bench in "${benches[@]}"; do
    sql -c "\\copy logged (line) FROM '$work/$bench/log/bench.jsonl' WITH (FORMAT csv, DELIMITER E'\\x01', QUOTE E'\\x02')" ||
      return 1
  done
}
read_logs || { echo "try-fleet: the logs could not be read into the database" >&2; exit 1; }

stored=$(rows_stored)
# Rows that hold a line another row holds already: a line stored twice.
duplicates=$(sql -c "SELECT count(*) - count(DISTINCT line) FROM pager_record")
# Lines with no row of the same record_id, station, number, outcome and sha256.
unmatched=$(sql -c "
  SELECT count(*) FROM logged l
  WHERE NOT EXISTS (
    SELECT 1 FROM pager_record r
    WHERE r.record_id::text = l.line::jsonb->>'record_id'
      AND r.station = l.line::jsonb->>'station'
      AND r.number = (l.line::jsonb->>'number')::integer
      AND r.outcome = l.line::jsonb->>'outcome'
      AND r.sha256 = l.line::jsonb->>'sha256')")
rejected=$(sql -c "SELECT count(*) FROM rejected_line")
expected=$((${#benches[@]} * 2 * pagers))

echo "logged $logged, in the database $stored, duplicates $duplicates"
ok=true
if ((logged != expected)); then
  echo "try-fleet: the benches logged $logged pagers, not $expected (see $work/bench-*)" >&2
  ok=false
fi
if ((unmatched > 0 || stored != logged || duplicates != 0 || rejected != 0)); then
  echo "try-fleet: $unmatched lines have no row with their record_id, station, number," \
    "outcome and sha256; $rejected lines were rejected (see $work/collector)" >&2
  ok=false
fi
if ((logged_while_down == 0)); then
  echo "try-fleet: no line was logged while the collector was down: the outage proved nothing" >&2
  ok=false
fi
$ok || keep=true
$ok
