#!/usr/bin/env bash
# Benchmark of tremcvt_check over a synthetic TRZ archive at its quota.
#
#   bench/bench_check.sh <build-dir> [stations] [hours] [pg-env-file]
#   bench/bench_check.sh <build-dir> sds [days]
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
# scripts/pg-test-cluster.sh).
#
# With "sds": a year (default 365 days) of one station's SDS tree, three
# channels at 100 sps: one real day file per channel made by converting a
# synthetic day with tremcvt, copied to every day of 2010 with the day of
# the year in each record header set to the copy's. Timed: verify --sds and
# availability --sds with the picture.
# Everything lives in a temporary folder that is removed at the end.
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

run_timed() {  # label, arguments...
  local label="$1"; shift
  (cd "$work" && /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$check" "$@" >"$work/out.txt" 2>"$work/err.txt") || true
  read -r wall user system rss <"$work/time.txt"
  printf '   %-34s %7.2f s wall %7.2f s CPU %7d KiB peak | %s\n' "$label" "$wall" "$(echo "$user + $system" | bc -l)" \
    "$rss" "$(tail -n 1 "$work/out.txt" | cut -c1-60)"
}
if [ "$stations" = sds ]; then
  days="${3:-365}"
  tremcvt="$build/converter/driver/tremcvt"
  winwrite="$build/tools/winwriter/winwrite"
  printf '[system]\nnsta=1\nnet=XX\n[sta0]\nname=BEN\n101=BHZ\n102=BHN\n103=BHE\n' >>"$work/tremcvt.ini"
  "$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
  sqlite3 "$work/archive.db" "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','BHZ',100,'??'),('BEN','BHN',100,'??'),('BEN','BHE',100,'??');"
  echo "== making an SDS year: $days days x 3 channels at 100 sps"
  "$winwrite" --start 2010-01-01T00:00:00 --seconds 86400 --amplitude 20 --channel 101:100 --channel 102:100 \
    --channel 103:100 "$work/day.win"
  mkdir -p "$work/sds"
  (cd "$work" && "$tremcvt" BEN "$work/day.win" "mseed=$work/sds" >/dev/null)
  rm -f "$work/day.win"
  python3 - "$work/sds/2010/XX/BEN" "$days" <<'PY'
import os, sys
base, days = sys.argv[1], int(sys.argv[2])
for channel in ("BHZ", "BHN", "BHE"):
    folder = os.path.join(base, channel + ".D")
    data = bytearray(open(os.path.join(folder, "XX.BEN..%s.D.2010.001" % channel), "rb").read())
    records = len(data) // 512
    for day in range(2, days + 1):
        # The day of the year: bytes 22-23 of every record's fixed header.
        data[22::512] = bytes([day >> 8]) * records
        data[23::512] = bytes([day & 0xFF]) * records
        with open(os.path.join(folder, "XX.BEN..%s.D.2010.%03d" % (channel, day)), "wb") as out:
            out.write(data)
PY
  echo "   $(find "$work/sds" -type f | wc -l) day files, $(du -sh "$work/sds" | cut -f1)"
  run_timed "verify --sds" verify --sds "$work/sds"
  run_timed "availability --sds (csv + picture)" availability --sds "$work/sds" --format csv --picture "$work/sds.svg"
  exit 0
fi

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
