#!/usr/bin/env bash
# The catalogue at network size, and a network's stations at once.
#
#   bench/bench_network.sh <build-dir> [minutes] [pg-env-file]
#
# 1. Query plans: a catalogue of 1,000 stations (999 stations of three
#    channels with a week of hourly rows each, about 500,000 FILELIST rows,
#    and their SITECHAN rows) beside the station converted; every statement
#    that the store runs is shown with its plan (EXPLAIN QUERY PLAN on SQLite,
#    EXPLAIN on PostgreSQL) and marked FULL SCAN when it reads the whole
#    table. The script ends with status 1 when any statement does.
# 2. Per-file cost: one batch of one station over `minutes` minute files
#    (default 240, three channels at 100 sps) into a catalogue that holds
#    only that station, then into the 1,000-station catalogue (twice each,
#    alternating; PostgreSQL catalogues vacuumed and analysed, as
#    autovacuum keeps a catalogue in service).
# 3. Eight stations of `minutes` files each (all over the same WIN files):
#    tremcvt_batch --stations all with -j 1 and with -j 2, wall time, CPU
#    time and speed-up.
# With pg-env-file (the env file that scripts/pg-test-cluster.sh writes) the
# same runs against PostgreSQL as well. Everything lives in a temporary
# folder that is removed at the end.
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> [minutes] [pg-env-file]}" && pwd)"
minutes="${2:-240}"
pg_env="${3:-}"
root="$(cd "$(dirname "$0")/.." && pwd)"
batch="$build/converter/batch/tremcvt_batch"
winwrite="$build/tools/winwriter/winwrite"
for program in "$batch" "$winwrite"; do
  [ -x "$program" ] || { echo "build $program first" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC TREMCVT_SYSCONFDIR="$work" ODBCINI="$work/odbc.ini"

# The converted station BEN and seven more over the same WIN directory.
{
  printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\nUSE_TEND=1\n[DATA]\nDIR=%s\n' "$work/archive"
  printf '[system]\nnsta=8\ndir=%s\n' "$work/win"
  for s in 0 1 2 3 4 5 6 7; do
    name=BEN; [ "$s" -gt 0 ] && name="BE$s"
    printf '[sta%d]\nname=%s\n101=C01\n102=C02\n103=C03\n' "$s" "$name"
  done
} >"$work/tremcvt.ini"
sitechan="insert into SITECHAN(STA,CHAN,SPS,LCODE) values"
for name in BEN BE1 BE2 BE3 BE4 BE5 BE6 BE7; do
  for c in C01 C02 C03; do sitechan+="('$name','$c',100,'??'),"; done
done
sitechan="${sitechan%,};"

# 999 other stations, three channels each, a week of hourly files before the
# converted interval: rows as the converter writes them.
other_rows=$((999 * 3 * 168))
sqlite_network="
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < $other_rows - 1)
INSERT INTO FILELIST(STA,TBEGIN,TQTY,SPS,GAIN,CPATH,DATATYPE,CH,CREATER,LDDATE,FOFF,CALIB,CALPER,LCODE,TEND)
SELECT printf('N%03d', i / 504), 1266969600 + (i % 168) * 3600, 3600, 100, 1,
       printf('N%03d/%d/C%02d-%d', i / 504, i % 24, (i / 168) % 3 + 1, i), 3, printf('C%02d', (i / 168) % 3 + 1),
       'tremcvt', '2010-03-01 00:00:00', 512, 0, 0, '??', 1266969600 + (i % 168) * 3600 + 3600 FROM n;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999 * 3 - 1)
INSERT INTO SITECHAN(STA,CHAN,SPS,LCODE) SELECT printf('N%03d', i / 3), printf('C%02d', i % 3 + 1), 100, '??' FROM n;"
postgres_network="
INSERT INTO FILELIST(STA,TBEGIN,TQTY,SPS,GAIN,CPATH,DATATYPE,CH,CREATER,LDDATE,FOFF,CALIB,CALPER,LCODE,TEND)
SELECT format('N%s', lpad((i / 504)::text, 3, '0')), 1266969600 + (i % 168) * 3600, 3600, 100, 1,
       format('N%s/%s/C0%s-%s', lpad((i / 504)::text, 3, '0'), i % 24, (i / 168) % 3 + 1, i), 3,
       format('C0%s', (i / 168) % 3 + 1), 'tremcvt', '2010-03-01 00:00:00', 512, 0, 0, '??',
       1266969600 + (i % 168) * 3600 + 3600 FROM generate_series(0, $other_rows - 1) AS i;
INSERT INTO SITECHAN(STA,CHAN,SPS,LCODE)
SELECT format('N%s', lpad((i / 3)::text, 3, '0')), format('C0%s', i % 3 + 1), 100, '??'
FROM generate_series(0, 999 * 3 - 1) AS i;
"

# Every statement of the store, as the converter prints it, for BEN C02 in
# the middle of its interval.
t0=1267574400  # 2010-03-03 00:00 UTC
mid=$((t0 + minutes * 30))
hour=$((mid / 3600 * 3600))
path="BEN/00/03032010-000000-C02.BEN"
lcode="(LCODE='??' or LCODE is null)"
scope="STA='BEN' and CH='C02' and $lcode and CREATER='tremcvt' and FOFF=512"
statements=(
  "select max(TBEGIN) from FILELIST"
  "select SPS from SITECHAN where STA='BEN' and CHAN='C02' and (LCODE is null or LCODE='??')"
  "select count(*) from FILELIST where CPATH='$path'"
  "select FOFF,TBEGIN,TQTY,CPATH,SPS from FILELIST where STA='BEN' and CH='C02' and $lcode and TBEGIN>=$((mid - 3601)).0000 and TBEGIN<=$mid.0000 order by LDDATE desc,TBEGIN desc"
  "update FILELIST set TQTY=120.00,LDDATE={ts '2010-03-03 00:00:00'},TEND=$((hour + 120)).0000 where STA='BEN' and CH='C02' and $lcode and TBEGIN=$hour.0000 and TQTY=60.00"
  "select SPS,FOFF,TBEGIN,TEND from FILELIST where STA='BEN' and CH='C02' and $lcode and CREATER='tremcvt' and CPATH='$path'"
  "select TBEGIN,TQTY,SPS,CPATH from FILELIST where $scope and TBEGIN>=$((mid - 7201)).0000 and TBEGIN<=$((mid + 61)).0000 and TBEGIN+TQTY>=$((mid - 1)).0000 order by LDDATE desc,TBEGIN desc"
  "delete from FILELIST where STA='BEN' and CH='C02' and $lcode and TBEGIN=$mid.0000 and CPATH='$path'"
  "select sum(FOFF+TQTY*SPS*4) as SIZE from FILELIST where $scope"
  "select FOFF,TQTY,SPS,CPATH from FILELIST where $scope order by LDDATE desc,TBEGIN desc"
  "delete from FILELIST where CPATH='$path'"
  "select CPATH from FILELIST where CREATER='tremcvt' and FOFF=512 order by LDDATE desc,TBEGIN desc"
)

now() { echo "${EPOCHREALTIME/./}"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e6 }'; }

# An empty archive directory; the network's stands for a mounted archive disk
# (its files are not there, the catalogue only needs its rows).
fresh_archive() {  # network|single
  rm -rf "$work/archive" && mkdir -p "$work/archive"
  [ "$1" = network ] && touch "$work/archive/.tremcvt-archive-root"
  return 0
}

fresh_sqlite() {  # network|single
  rm -f "$work/odbc.ini"
  "$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
  sqlite3 "$work/archive.db" "$sitechan"
  [ "$1" = network ] && sqlite3 "$work/archive.db" "$sqlite_network"
  query=(sqlite3 "$work/archive.db")
  explain=(sqlite3 "$work/archive.db")
  explain_prefix="EXPLAIN QUERY PLAN "
  full_scan='SCAN (FILELIST|SITECHAN)( |$)'
  fresh_archive "$1"
}

fresh_postgres() {  # network|single
  rm -f "$work/odbc.ini"
  if [ -n "${dbname:-}" ]; then pg -d postgres -c "drop database if exists $dbname" >/dev/null; fi
  dbname="bench_network_$$"
  "$root/scripts/create-archive-db" postgres "$work/odbc.ini" --host "$TREMCVT_TEST_PG_HOST" \
    --port "$TREMCVT_TEST_PG_PORT" --user "$TREMCVT_TEST_PG_USER" --password "$TREMCVT_TEST_PG_PASSWORD" \
    --dbname "$dbname" --dsn TRZ >/dev/null
  pg -d "$dbname" -c "$sitechan" >/dev/null
  [ "$1" = network ] && pg -d "$dbname" -c "$postgres_network" >/dev/null
  pg -d "$dbname" -c "VACUUM ANALYZE FILELIST" -c "VACUUM ANALYZE SITECHAN" >/dev/null
  query=(pg -d "$dbname" -tA -c)
  explain=(pg -d "$dbname" -tA -c)
  explain_prefix="EXPLAIN (COSTS OFF) "
  full_scan='Seq Scan on (filelist|sitechan)'
  fresh_archive "$1"
}

scans=0
show_plans() {  # label
  echo "== $1: query plans with $("${query[@]}" 'select count(*) from FILELIST') FILELIST rows"
  local statement plan
  for statement in "${statements[@]}"; do
    # The ODBC time literal as the drivers rewrite it.
    plan="$("${explain[@]}" "$explain_prefix$(printf '%s' "$statement" | sed "s/{ts \('[^']*'\)}/\1/")")"
    echo "-- $statement"
    printf '%s\n' "$plan" | sed 's/^/     /'
    if printf '%s\n' "$plan" | grep -Eqi "$full_scan"; then
      echo "     FULL SCAN"
      scans=$((scans + 1))
    fi
  done
}

one_station() {  # label fresh-function network|single
  "$2" "$3"
  local start end
  start=$(now)
  (cd "$work" && "$batch" BEN "$work/win" "03/03/2010 00:00" "$interval" >/dev/null 2>"$work/batch.err") || {
    tail -3 "$work/batch.err" >&2; return 1; }
  end=$(now)
  awk -v l="$1" -v n="$minutes" -v s="$(seconds "$start" "$end")" \
    'BEGIN { printf "%s: %d files of one station: %.2f s, %.2f ms per file\n", l, n, s, 1000 * s / n }'
}

eight_stations() {  # label fresh-function
  local jobs start end single
  for jobs in 1 2; do
    "$2" single
    start=$(now)
    (cd "$work" && /usr/bin/time -f '%U %S' -o "$work/cpu" "$batch" --stations all "03/03/2010 00:00" "$interval" \
      -j "$jobs" >/dev/null 2>"$work/batch.err") || { tail -3 "$work/batch.err" >&2; return 1; }
    end=$(now)
    local wall cpu
    wall=$(seconds "$start" "$end")
    cpu=$(awk '{ printf "%.2f", $1 + $2 }' "$work/cpu")
    [ "$jobs" = 1 ] && single="$wall"
    awk -v l="$1" -v j="$jobs" -v n="$((8 * minutes))" -v w="$wall" -v c="$cpu" -v s="$single" 'BEGIN {
      printf "%s: 8 stations x %d files, -j %d: %.2f s wall (%.2f ms per file), %.2f s CPU (%.0f %% of one core per worker), speed-up %.2f\n",
        l, n / 8, j, w, 1000 * w / n, c, 100 * c / w / j, s / w }'
  done
}

interval=$(printf '%03d %02d:%02d' $((minutes / 1440)) $((minutes % 1440 / 60)) $((minutes % 60)))
echo "== generating $minutes minute files (3 channels, 100 sps)"
"$winwrite" --start 2010-03-03T00:00:00 --minutes "$minutes" --channel 101:100 --channel 102:100 \
  --channel 103:100 "$work/win" >/dev/null

for round in 1 2; do
  one_station "SQLite, 1 station in the catalogue" fresh_sqlite single
  one_station "SQLite, 1,000 stations in the catalogue" fresh_sqlite network
done
show_plans SQLite
eight_stations SQLite fresh_sqlite

if [ -n "$pg_env" ]; then
  set -a; . "$pg_env"; set +a
  export PGPASSWORD="$TREMCVT_TEST_PG_PASSWORD"
  pg() { psql -q -X -h "$TREMCVT_TEST_PG_HOST" -p "$TREMCVT_TEST_PG_PORT" -U "$TREMCVT_TEST_PG_USER" "$@"; }
  for round in 1 2; do
    one_station "PostgreSQL, 1 station in the catalogue" fresh_postgres single
    one_station "PostgreSQL, 1,000 stations in the catalogue" fresh_postgres network
  done
  show_plans PostgreSQL
  eight_stations PostgreSQL fresh_postgres
  pg -d postgres -c "drop database $dbname" >/dev/null
fi

[ "$scans" -eq 0 ] || { echo "$scans statements read a whole table" >&2; exit 1; }
