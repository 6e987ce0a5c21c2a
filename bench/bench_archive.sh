#!/usr/bin/env bash
# Archive benchmarks of the tremcvt program.
#
#   bench/bench_archive.sh <build-dir> [minutes] [pg-env-file]
#
# 1. A day of one station (default 1440 minute files, three channels at
#    100 sps) converted one file per process into a SQLite archive: median
#    and total time per file. With pg-env-file (the env file written by
#    scripts/pg-test-cluster.sh) the same against PostgreSQL.
# 2. One 60-minute WIN file of 18 channels at 100 sps into an empty archive:
#    wall time and peak memory, against a cp of the same number of bytes.
# Everything lives in a temporary folder that is removed at the end.
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> [minutes] [pg-env-file]}" && pwd)"
minutes="${2:-1440}"
pg_env="${3:-}"
root="$(cd "$(dirname "$0")/.." && pwd)"
tremcvt="$build/converter/driver/tremcvt"
winwrite="$build/tools/winwriter/winwrite"
[ -x "$tremcvt" ] && [ -x "$winwrite" ] || { echo "build tremcvt and winwrite first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC TREMCVT_SYSCONFDIR="$work" ODBCINI="$work/odbc.ini"

write_ini() {  # archive-dir channel-count
  {
    printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\nUSE_TEND=1\n[DATA]\nDIR=%s\n' "$1"
    printf '[system]\nnsta=1\n[sta0]\nname=BEN\n'
    for i in $(seq 1 "$2"); do printf '%x=C%02d\n' $((0x100 + i)) "$i"; done
  } >"$work/tremcvt.ini"
}

sitechan_sql() {  # channel-count
  for i in $(seq 1 "$1"); do
    printf "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','C%02d',100,'??');\n" "$i"
  done
}

# Runs every minute file through its own process; prints median and total.
convert_day() {  # label
  local times="$work/times.txt"
  : >"$times"
  rm -rf "$work/archive" && mkdir -p "$work/archive"
  (cd "$work" && for f in $(find "$work/day" -type f | sort); do
    s=${EPOCHREALTIME/./}
    "$tremcvt" BEN "$f" >/dev/null || true
    e=${EPOCHREALTIME/./}
    echo $((e - s)) >>"$times"
  done)
  sort -n "$times" | awk -v label="$1" '{ t[NR] = $1; sum += $1 }
    END { printf "%s: %d files, median %.2f ms per file, total %.2f s\n", label, NR, t[int((NR + 1) / 2)] / 1000, sum / 1e6 }'
}

echo "== generating $minutes minute files (3 channels, 100 sps)"
args=()
for i in 1 2 3; do args+=(--channel "$(printf '%x' $((0x100 + i)))":100); done
"$winwrite" --start 2010-03-03T00:00:00 --minutes "$minutes" "${args[@]}" "$work/day" >/dev/null
write_ini "$work/archive" 3

"$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
sitechan_sql 3 | sqlite3 "$work/archive.db"
convert_day "SQLite"
echo "   rows: $(sqlite3 "$work/archive.db" 'select count(*) from FILELIST')"

if [ -n "$pg_env" ]; then
  set -a; . "$pg_env"; set +a
  rm -f "$work/odbc.ini"
  dbname="bench_$$"
  "$root/scripts/create-archive-db" postgres "$work/odbc.ini" --host "$TREMCVT_TEST_PG_HOST" \
    --port "$TREMCVT_TEST_PG_PORT" --user "$TREMCVT_TEST_PG_USER" --password "$TREMCVT_TEST_PG_PASSWORD" \
    --dbname "$dbname" --dsn TRZ >/dev/null
  export PGPASSWORD="$TREMCVT_TEST_PG_PASSWORD"
  pg() { psql -q -h "$TREMCVT_TEST_PG_HOST" -p "$TREMCVT_TEST_PG_PORT" -U "$TREMCVT_TEST_PG_USER" "$@"; }
  sitechan_sql 3 | pg -d "$dbname" >/dev/null
  convert_day "PostgreSQL"
  echo "   rows: $(pg -d "$dbname" -tAc 'select count(*) from FILELIST')"
  pg -d postgres -c "drop database $dbname" >/dev/null
  rm -f "$work/odbc.ini"
  "$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
fi

echo "== one 60-minute file, 18 channels at 100 sps, into an empty archive"
args=()
for i in $(seq 1 18); do args+=(--channel "$(printf '%x' $((0x100 + i)))":100); done
"$winwrite" --start 2010-03-03T00:00:00 --seconds 3600 "${args[@]}" "$work/hour.win" >/dev/null
"$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
sitechan_sql 18 | sqlite3 "$work/archive.db"
rm -rf "$work/archive" && mkdir -p "$work/archive"
write_ini "$work/archive" 18
(cd "$work" && /usr/bin/time -v "$tremcvt" BEN "$work/hour.win" >/dev/null 2>"$work/time.txt") || true
bytes=$(find "$work/archive" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$work/time.txt")
rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
echo "tremcvt: wall $wall, peak RSS ${rss} KiB, output $bytes bytes in $(find "$work/archive" -type f | wc -l) files"
echo "samples as floats: $((18 * 360000 * 4)) bytes"
head -c "$bytes" /dev/urandom >"$work/copy-src"
sync
/usr/bin/time -f '%e' -o "$work/cp.txt" cp "$work/copy-src" "$work/copy-dst"
echo "cp of the same bytes: $(cat "$work/cp.txt") s"
