#!/usr/bin/env bash
# Time of whole tremcvt runs (process start included) on a one-minute,
# three-channel, 100-sps WIN file, against SQLite and, with the env file of
# scripts/pg-test-cluster.sh, against PostgreSQL:
#   - connect: the run up to and including the connection with its schema
#     verification (a WIN file that does not exist ends it right there);
#   - checks: the run up to the end of the first-block checks, with output
#     into CSS (a few kilobytes) instead of the archive;
#   - archive: a whole run into the TRZ archive (re-converting the same
#     minute, so the archive does not grow).
# Prints the median and the minimum of N runs of each.
#
#   bench/bench_run.sh <build-dir> [runs] [pg-env-file]
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> [runs] [pg-env-file]}" && pwd)"
runs="${2:-200}"
pg_env="${3:-}"
root="$(cd "$(dirname "$0")/.." && pwd)"
tremcvt="$build/converter/driver/tremcvt"
winwrite="$build/tools/winwriter/winwrite"
[ -x "$tremcvt" ] && [ -x "$winwrite" ] || { echo "build tremcvt and winwrite first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC TREMCVT_SYSCONFDIR="$work" ODBCINI="$work/odbc.ini"
mkdir -p "$work/archive" "$work/css"
printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\nUSE_TEND=1\n[DATA]\nDIR=%s\n[system]\nnsta=1\n[sta0]\nname=BEN\nc1=BHZ\nc2=BHN\nc3=BHE\n' \
  "$work/archive" >"$work/tremcvt.ini"
"$winwrite" --start 2010-03-03T02:00:00 --seconds 60 --channel c1:100 --channel c2:100 --channel c3:100 \
  "$work/minute.win" >/dev/null
sitechan="insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','BHZ',100,'??'); insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','BHN',100,'??'); insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','BHE',100,'??');"

# Median and minimum in milliseconds of $runs runs of the given command.
time_runs() {
  local label="$1"; shift
  local times="$work/times.txt" i s e
  : >"$times"
  for ((i = 0; i < runs; i++)); do
    s=${EPOCHREALTIME/./}
    "$@" >/dev/null || true
    e=${EPOCHREALTIME/./}
    echo $((e - s)) >>"$times"
  done
  sort -n "$times" | awk -v label="$label" '{ t[NR] = $1 }
    END { printf "  %-8s median %6.2f ms   min %6.2f ms   (%d runs)\n", label, t[int((NR + 1) / 2)] / 1000, t[1] / 1000, NR }'
}

measure() {
  echo "$1:"
  (cd "$work" &&
    time_runs connect "$tremcvt" BEN "$work/missing.win" &&
    time_runs checks "$tremcvt" BEN "$work/minute.win" "css=$work/css/out.wfdisc" &&
    time_runs archive "$tremcvt" BEN "$work/minute.win")
}

"$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
sqlite3 "$work/archive.db" "$sitechan"
measure SQLite

if [ -n "$pg_env" ]; then
  set -a; . "$pg_env"; set +a
  rm -f "$work/odbc.ini" "$work/archive.db"*
  rm -rf "$work/archive" && mkdir -p "$work/archive"
  dbname="bench_run_$$"
  "$root/scripts/create-archive-db" postgres "$work/odbc.ini" --host "$TREMCVT_TEST_PG_HOST" \
    --port "$TREMCVT_TEST_PG_PORT" --user "$TREMCVT_TEST_PG_USER" --password "$TREMCVT_TEST_PG_PASSWORD" \
    --dbname "$dbname" --dsn TRZ >/dev/null
  export PGPASSWORD="$TREMCVT_TEST_PG_PASSWORD"
  psql -q -h "$TREMCVT_TEST_PG_HOST" -p "$TREMCVT_TEST_PG_PORT" -U "$TREMCVT_TEST_PG_USER" -d "$dbname" \
    -c "$sitechan" >/dev/null
  measure PostgreSQL
  psql -q -h "$TREMCVT_TEST_PG_HOST" -p "$TREMCVT_TEST_PG_PORT" -U "$TREMCVT_TEST_PG_USER" -d postgres \
    -c "drop database $dbname" >/dev/null
fi
