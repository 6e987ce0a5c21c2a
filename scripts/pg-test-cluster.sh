#!/usr/bin/env bash
# A throwaway PostgreSQL 15 cluster for the database tests.
#
#   scripts/pg-test-cluster.sh start <dir>   initialise and start a cluster
#                                            below <dir>, write <dir>/env
#   scripts/pg-test-cluster.sh stop <dir>    stop it and remove its files
#                                            (does nothing when none runs)
#
# The server listens on a free port of 127.0.0.1 only, without fsync. Its
# test role (user trz, password kpv, allowed to create databases) logs in
# with a password over TCP, so a wrong password is really refused. <dir>/env
# holds TREMCVT_TEST_PG_HOST, _PORT, _USER and _PASSWORD for the tests:
#   set -a; . <dir>/env; set +a
# PostgreSQL refuses to run as root, so as root the server runs as the
# postgres user; <dir> is then made reachable by that user.
set -euo pipefail

usage() { echo "usage: $0 start|stop <dir>" >&2; exit 2; }
[ $# -eq 2 ] || usage
action="$1"
dir="$2"

pg_bin="${PG_BIN:-}"
if [ -z "$pg_bin" ]; then
  for candidate in /usr/lib/postgresql/15/bin /usr/lib/postgresql/*/bin; do
    if [ -x "$candidate/initdb" ]; then pg_bin="$candidate"; break; fi
  done
fi
[ -n "$pg_bin" ] && [ -x "$pg_bin/pg_ctl" ] || { echo "PostgreSQL server binaries not found (install postgresql)" >&2; exit 1; }

test_user="trz"
test_password="kpv"

as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

free_port() {
  if command -v python3 >/dev/null 2>&1; then
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
    return
  fi
  local port
  for port in $(seq 54320 54999); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "$port"; return; fi
  done
  return 1
}

start() {
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  local data="$dir/data" socket="$dir/socket"
  if [ -f "$data/postmaster.pid" ]; then
    echo "a cluster is already running in $data" >&2
    exit 1
  fi
  rm -rf "$data" "$socket"
  mkdir -p "$data" "$socket"
  if [ "$(id -u)" -eq 0 ]; then
    chmod 0755 "$dir"
    chown postgres:postgres "$data" "$socket"
  fi
  chmod 0700 "$data"

  as_server_user "$pg_bin/initdb" -D "$data" -U postgres -E UTF8 --locale=C -N \
    --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 1; }

  local port
  port="$(free_port)"
  cat >>"$data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$socket'
fsync = off
synchronous_commit = off
full_page_writes = off
password_encryption = 'scram-sha-256'
CONF
  as_server_user "$pg_bin/pg_ctl" -D "$data" -l "$data/server.log" -w -t 30 start >/dev/null ||
    { cat "$data/server.log" >&2; exit 1; }

  as_server_user "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$socket" -p "$port" -U postgres -d postgres \
    -c "CREATE ROLE $test_user LOGIN CREATEDB PASSWORD '$test_password'" >/dev/null

  cat >"$dir/env" <<ENV
TREMCVT_TEST_PG_HOST=127.0.0.1
TREMCVT_TEST_PG_PORT=$port
TREMCVT_TEST_PG_USER=$test_user
TREMCVT_TEST_PG_PASSWORD=$test_password
ENV
  echo "PostgreSQL test cluster running on 127.0.0.1:$port (user $test_user, password $test_password)"
  echo "connection settings: $dir/env   (set -a; . $dir/env; set +a)"
}

stop() {
  [ -d "$dir" ] || return 0
  dir="$(cd "$dir" && pwd)"
  local data="$dir/data"
  if [ -f "$data/postmaster.pid" ]; then
    as_server_user "$pg_bin/pg_ctl" -D "$data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$data" "$dir/socket" "$dir/env" "$dir/initdb.log"
  rmdir "$dir" 2>/dev/null || true
}

case "$action" in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
