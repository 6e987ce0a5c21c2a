#!/usr/bin/env bash
# Benchmark of tremcvt_check over a synthetic TRZ archive at its quota.
#
#   bench/bench_check.sh <build-dir> [stations] [hours] [pg-env-file]
#
# The archive is made by a script, not by converting: stations (default 100)
# of three channels at 100 sps, each channel with hours (default 71, what
# the 100 MiB quota holds) hour files and their FILELIST rows. 1000 stations
# give the network quota of about 213,000 files. The files are sparse: a
# real header, then a hole as long as the samples, so the sizes are those of
# real files without the disk space (reading their samples reads zeros).
#
# Timed, wall time, CPU time (user + system) and peak memory from
# /usr/bin/time: verify (structural),
# availability as CSV with the picture, and verify --read-data of one
# station. SQLite always; PostgreSQL too with pg-env-file (the env file of
# scripts/pg-test-cluster.sh). Everything lives in a temporary folder that
# is removed at the end.
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> [stations] [hours] [pg-env-file]}" && pwd)"
stations="${2:-100}"
hours="${3:-71}"
pg_env="${4:-}"
root="$(cd "$(dirname "$0")/.." && pwd)"
check="$build/converter/check/tremcvt_check"
[ -x "$check" ] || { echo "build tremcvt_check first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC TREMCVT_SYSCONFDIR="$work" ODBCINI="$work/odbc.ini"
archive="$work/archive"
mkdir -p "$archive"
printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\nUSE_TEND=1\n[DATA]\nDIR=%s\n' "$archive" >"$work/tremcvt.ini"

echo "== making $stations stations x 3 channels x $hours hour files"
s=${EPOCHREALTIME/./}
python3 - "$archive" "$stations" "$hours" "$work/rows.csv" <<'PY'
import os, sys, time
archive, stations, hours, rows = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
start = 1262304000  # 2010-01-01 00:00:00 UTC
rate, samples = 100.0, 360000
with open(rows, "w") as out:
    for s in range(stations):
        sta = "S%04d" % s
        for h in range(hours):
            t = start + 3600 * h
            tm = time.gmtime(t)
            hour_dir = os.path.join(archive, sta, "%02d" % tm.tm_hour)
            os.makedirs(hour_dir, exist_ok=True)
            for ch in ("BHZ", "BHN", "BHE"):
                name = "%02d%02d%04d-%02d%02d%02d-%3s.%3s" % (tm.tm_mday, tm.tm_mon, tm.tm_year, tm.tm_hour,
                                                              tm.tm_min, tm.tm_sec, ch, sta)
                header = ("[TRZ5.x]\r\nData offset=512\r\nStart time=%02d:%02d:%02d\r\nStart date=%02d-%02d-%04d\r\n"
                          "Time duration=000 01 00 00\r\nData type=FLOAT\r\nSpS=%0.2f\r\nGain=1\r\nStation=%s\r\n"
                          "Channel=%s\r\n") % (tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_mday, tm.tm_mon, tm.tm_year,
                                               rate, sta, ch)
                path = os.path.join(hour_dir, name)
                with open(path, "wb") as f:
                    f.write(header.encode().ljust(512, b"\0"))
                    f.truncate(512 + 4 * samples)
                cpath = "%s/%02d/%s" % (sta, tm.tm_hour, name)
                out.write("%s,%s,??,%0.4f,3600.00,%0.4f,100.00,1,3,512,%s,tremcvt,2010-01-05 00:00:00,0.00,0.00\n"
                          % (sta, ch, t, t + 3600, cpath))
PY
e=${EPOCHREALTIME/./}
files=$(wc -l <"$work/rows.csv")
printf '   %d files and rows made in %.1f s\n' "$files" "$(echo "($e - $s) / 1000000" | bc -l)"

columns="STA,CH,LCODE,TBEGIN,TQTY,TEND,SPS,GAIN,DATATYPE,FOFF,CPATH,CREATER,LDDATE,CALIB,CALPER"

run_timed() {  # label, arguments...
  local label="$1"; shift
  (cd "$work" && /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$check" "$@" >"$work/out.txt" 2>"$work/err.txt") || true
  read -r wall user system rss <"$work/time.txt"
  printf '   %-34s %7.2f s wall %7.2f s CPU %7d KiB peak | %s\n' "$label" "$wall" "$(echo "$user + $system" | bc -l)" \
    "$rss" "$(tail -n 1 "$work/out.txt" | cut -c1-60)"
}

bench_database() {  # label
  echo "== $1"
  run_timed "verify" verify
  run_timed "availability (csv + picture)" availability --format csv --picture "$work/availability.svg"
  run_timed "verify --read-data, one station" verify --read-data --station S0000
}

"$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
printf '.mode csv\n.import %s FILELIST_IMPORT\ninsert into FILELIST(%s) select * from FILELIST_IMPORT;\ndrop table FILELIST_IMPORT;\n' \
  "$work/rows.csv" "$columns" | sed "s/.import \(.*\) FILELIST_IMPORT/create table FILELIST_IMPORT(STA,CH,LCODE,TBEGIN real,TQTY real,TEND real,SPS real,GAIN integer,DATATYPE integer,FOFF integer,CPATH,CREATER,LDDATE,CALIB real,CALPER real);\n.import \1 FILELIST_IMPORT/" \
  | sqlite3 "$work/archive.db"
echo "   SQLite rows: $(sqlite3 "$work/archive.db" 'select count(*) from FILELIST')"
bench_database "SQLite"

if [ -n "$pg_env" ]; then
  set -a; . "$pg_env"; set +a
  rm -f "$work/odbc.ini"
  dbname="bench_check_$$"
  "$root/scripts/create-archive-db" postgres "$work/odbc.ini" --host "$TREMCVT_TEST_PG_HOST" \
    --port "$TREMCVT_TEST_PG_PORT" --user "$TREMCVT_TEST_PG_USER" --password "$TREMCVT_TEST_PG_PASSWORD" \
    --dbname "$dbname" --dsn TRZ >/dev/null
  export PGPASSWORD="$TREMCVT_TEST_PG_PASSWORD"
  pg() { psql -q -h "$TREMCVT_TEST_PG_HOST" -p "$TREMCVT_TEST_PG_PORT" -U "$TREMCVT_TEST_PG_USER" "$@"; }
  pg -d "$dbname" -c "\\copy FILELIST($columns) from '$work/rows.csv' with (format csv)" >/dev/null
  echo "   PostgreSQL rows: $(pg -d "$dbname" -tAc 'select count(*) from FILELIST')"
  bench_database "PostgreSQL"
  pg -d postgres -c "drop database $dbname" >/dev/null
fi
