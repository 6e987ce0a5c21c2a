#!/usr/bin/env bash
# tremcvt_batch against one tremcvt process per file.
#
#   bench/bench_batch.sh <build-dir> [minutes] [pg-env-file] [week|sync]
#
# 1. A day of one station (default 1440 minute files, three channels at
#    100 sps) into SQLite: one tremcvt_batch run, then one tremcvt per file,
#    each into a fresh archive; wall times, the ratio, and whether both
#    archives are identical (FILELIST rows without LDDATE and NINDEX, and
#    every file's bytes). With pg-env-file (the env file that
#    scripts/pg-test-cluster.sh writes) the same against PostgreSQL.
# 2. With "week" as the fourth argument: seven days (10,080 files) into one
#    SQLite archive, one batch per day, to show that the cost per file stays
#    flat as the catalogue grows (first day against last), and the peak
#    memory of one batch over the whole week against one over a day.
# 3. With "sync" as the fourth argument: part 1 twice, stores synced to the
#    disk (SYNC=1, the default) and not (SYNC=0), to show what syncing
#    costs. Run it with TMPDIR on the disk in question: on tmpfs a sync
#    costs nothing.
# With IRREGULAR=1 in the environment the minute files are irregular, each
# as winwrite --irregular makes it (a missing second, a channel missing some
# seconds, a repeated second, swapped seconds, a late block of the previous
# minute, a second at half rate, in turn), to set against a regular day.
# Everything lives in a temporary folder that is removed at the end.
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> [minutes] [pg-env-file] [week]}" && pwd)"
minutes="${2:-1440}"
pg_env="${3:-}"
week="${4:-}"
root="$(cd "$(dirname "$0")/.." && pwd)"
tremcvt="$build/converter/driver/tremcvt"
batch="$build/converter/batch/tremcvt_batch"
winwrite="$build/tools/winwriter/winwrite"
for program in "$tremcvt" "$batch" "$winwrite"; do
  [ -x "$program" ] || { echo "build $program first" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC TREMCVT_SYSCONFDIR="$work" ODBCINI="$work/odbc.ini"

write_ini() {  # sync
  {
    printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\nUSE_TEND=1\nSYNC=%s\n[DATA]\nDIR=%s\n' "$1" "$work/archive"
    printf '[system]\nnsta=1\n[sta0]\nname=BEN\n101=C01\n102=C02\n103=C03\n'
  } >"$work/tremcvt.ini"
}
write_ini 1
sitechan="insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','C01',100,'??'),('BEN','C02',100,'??'),('BEN','C03',100,'??');"
channels=(--channel 101:100 --channel 102:100 --channel 103:100)

now() { echo "${EPOCHREALTIME/./}"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e6 }'; }

# The archive as it is compared: rows without LDDATE and NINDEX, and a
# checksum of every file.
fingerprint() {  # query-command...
  "$@" "select STA,CH,LCODE,TBEGIN,TQTY,TEND,SPS,FOFF,CPATH,CREATER from FILELIST order by CPATH"
  (cd "$work/archive" && find . -type f -print0 | sort -z | xargs -0 -r md5sum)
}

# Makes a fresh archive database; sets "query" to a command that runs SQL.
fresh_sqlite() {
  rm -f "$work/odbc.ini"
  "$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
  sqlite3 "$work/archive.db" "$sitechan"
  query=(sqlite3 "$work/archive.db")
  rm -rf "$work/archive" && mkdir -p "$work/archive"
}

fresh_postgres() {
  rm -f "$work/odbc.ini"
  if [ -n "${dbname:-}" ]; then pg -d postgres -c "drop database if exists $dbname" >/dev/null; fi
  dbname="bench_batch_$$"
  "$root/scripts/create-archive-db" postgres "$work/odbc.ini" --host "$TREMCVT_TEST_PG_HOST" \
    --port "$TREMCVT_TEST_PG_PORT" --user "$TREMCVT_TEST_PG_USER" --password "$TREMCVT_TEST_PG_PASSWORD" \
    --dbname "$dbname" --dsn TRZ >/dev/null
  pg -d "$dbname" -c "$sitechan" >/dev/null
  query=(pg -d "$dbname" -tA -c)
  rm -rf "$work/archive" && mkdir -p "$work/archive"
}

compare_day() {  # label fresh-function
  local label="$1" fresh="$2" start end batch_s single_s
  "$fresh"
  start=$(now)
  (cd "$work" && "$batch" BEN "$work/day" "03/03/2010 00:00" "$interval" >/dev/null 2>"$work/batch.err") || true
  end=$(now)
  batch_s=$(seconds "$start" "$end")
  fingerprint "${query[@]}" >"$work/batch.print"

  "$fresh"
  start=$(now)
  (cd "$work" && find "$work/day" -type f | sort | while read -r f; do "$tremcvt" BEN "$f" >/dev/null 2>>"$work/single.err" || true; done)
  end=$(now)
  single_s=$(seconds "$start" "$end")
  fingerprint "${query[@]}" >"$work/single.print"

  local same=no
  cmp -s "$work/batch.print" "$work/single.print" && same=yes
  awk -v l="$label" -v n="$minutes" -v b="$batch_s" -v s="$single_s" -v same="$same" 'BEGIN {
    printf "%s: %d files: tremcvt_batch %.2f s (%.2f ms per file), one tremcvt per file %.2f s (%.2f ms per file), ratio %.1f; archives identical: %s\n",
      l, n, b, 1000 * b / n, s, 1000 * s / n, s / b, same }'
}

interval=$(printf '%03d %02d:%02d' $((minutes / 1440)) $((minutes % 1440 / 60)) $((minutes % 60)))
irregular=()
[ "${IRREGULAR:-0}" = 1 ] && irregular=(--irregular)
echo "== generating $minutes ${irregular:+irregular }minute files (3 channels, 100 sps)"
"$winwrite" --start 2010-03-03T00:00:00 --minutes "$minutes" "${channels[@]}" "${irregular[@]}" "$work/day" >/dev/null

sync_modes=(1)
[ "$week" = sync ] && sync_modes=(1 0)
for sync in "${sync_modes[@]}"; do
  write_ini "$sync"
  label=""
  [ "$week" = sync ] && label=" SYNC=$sync"
  compare_day "SQLite$label" fresh_sqlite
done

if [ -n "$pg_env" ]; then
  set -a; . "$pg_env"; set +a
  export PGPASSWORD="$TREMCVT_TEST_PG_PASSWORD"
  pg() { psql -q -X -h "$TREMCVT_TEST_PG_HOST" -p "$TREMCVT_TEST_PG_PORT" -U "$TREMCVT_TEST_PG_USER" "$@"; }
  for sync in "${sync_modes[@]}"; do
    write_ini "$sync"
    label=""
    [ "$week" = sync ] && label=" SYNC=$sync"
    compare_day "PostgreSQL$label" fresh_postgres
  done
  pg -d postgres -c "drop database $dbname" >/dev/null
fi
write_ini 1

if [ "$week" = week ]; then
  echo "== a week (7 x 1440 files) into one SQLite archive, one batch per day"
  rm -rf "$work/day"
  "$winwrite" --start 2010-03-03T00:00:00 --minutes 10080 "${channels[@]}" "$work/week" >/dev/null
  fresh_sqlite
  for d in 0 1 2 3 4 5 6; do
    day=$(date -u -d "2010-03-03 +$d day" +%d/%m/%Y)
    start=$(now)
    (cd "$work" && /usr/bin/time -f '%M' -o "$work/rss.$d" "$batch" BEN "$work/week" "$day 00:00" "001 00:00" \
      >/dev/null 2>"$work/batch.err") || true
    end=$(now)
    echo "day $((d + 1)): $(seconds "$start" "$end") s, $(awk '{ print $1 }' "$work/rss.$d") KiB peak, rows $("${query[@]}" 'select count(*) from FILELIST')"
  done
  fresh_sqlite
  (cd "$work" && /usr/bin/time -f '%M' -o "$work/rss.week" "$batch" BEN "$work/week" "03/03/2010 00:00" \
    "007 00:00" >/dev/null 2>"$work/batch.err") || true
  echo "one batch over the week: $(cat "$work/rss.week") KiB peak (one day: $(cat "$work/rss.0") KiB)"
fi
