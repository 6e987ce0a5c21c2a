#!/usr/bin/env bash
# miniSEED output speed of the tremcvt program, against the TRZ archive.
#
#   bench/bench_sds.sh <build-dir> [minutes] [days]
#
# A day of one station (default 1440 minute files of three channels at
# 100 sps, made by winwrite) is converted one file per process, in order,
# twice over a SQLite archive database: with "mseed=" into an empty SDS
# archive, and into an empty TRZ archive. For each: median and total time per
# file, the output's bytes and its bytes per sample (TRZ: the samples as
# float32 plus a 512-byte header per file; miniSEED: Steim-2 records).
# Then one minute of the middle of the day is converted again into the full
# SDS archive (a rebuild of three day files) and timed. Where tremcvt_batch is
# built, the same day also goes through one tremcvt_batch run each way, and
# then a week (default 7 days; 0 skips it) of minute files goes into one SDS
# tree, one tremcvt_batch run per day, to compare the first day's time with
# the last one's (appends in place cost the same whatever the day file
# already holds). Everything lives in a temporary folder that is removed at
# the end.
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> [minutes] [days]}" && pwd)"
minutes="${2:-1440}"
days="${3:-7}"
root="$(cd "$(dirname "$0")/.." && pwd)"
tremcvt="$build/converter/driver/tremcvt"
winwrite="$build/tools/winwriter/winwrite"
batch="$build/converter/batch/tremcvt_batch"
[ -x "$tremcvt" ] && [ -x "$winwrite" ] || { echo "build tremcvt and winwrite in $build first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC TREMCVT_SYSCONFDIR="$work" ODBCINI="$work/odbc.ini"

channels=3
sps=100
{
  printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\nUSE_TEND=1\n[DATA]\nDIR=%s\n' "$work/archive"
  printf '[system]\nnsta=1\nnet=XX\n[sta0]\nname=BEN\n'
  for i in $(seq 1 "$channels"); do printf '%x=C%02d\n' $((0x100 + i)) "$i"; done
} >"$work/tremcvt.ini"

fresh_database() {
  "$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
  for i in $(seq 1 "$channels"); do
    printf "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','C%02d',%d,'??');\n" "$i" "$sps"
  done | sqlite3 "$work/archive.db"
}

now_us() { echo "${EPOCHREALTIME/./}"; }

# Converts every minute file, one process each, with the given options;
# prints median and total time per file.
convert_day() {  # label [options...]
  local label="$1"; shift
  local times="$work/times.txt"
  : >"$times"
  (cd "$work" && for f in $(find "$work/day" -type f | sort); do
    s=$(now_us)
    "$tremcvt" BEN "$f" "$@" >/dev/null || true
    e=$(now_us)
    echo $((e - s)) >>"$times"
  done)
  sort -n "$times" | awk -v label="$label" '{ t[NR] = $1; sum += $1 }
    END { printf "%s: %d files, median %.2f ms per file, total %.2f s\n", label, NR, t[int((NR + 1) / 2)] / 1000, sum / 1e6 }'
}

# The minute files below a folder (default: the day) through one
# tremcvt_batch run; prints its wall time.
batch_day() {  # label [options...]
  local label="$1"; shift
  local s e n
  n=$(find "${files_dir:-$work/day}" -type f | wc -l)
  s=$(now_us)
  (cd "$work" && find "${files_dir:-$work/day}" -type f | sort | "$batch" BEN --files-from - "$@" >/dev/null 2>&1) || true
  e=$(now_us)
  awk -v label="$label" -v t=$((e - s)) -v n="$n" \
    'BEGIN { printf "%s: %d files in one tremcvt_batch run, %.2f s (%.2f ms per file)\n", label, n, t / 1e6, t / 1e3 / n }'
}

bytes_in() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }

echo "== generating $minutes minute files ($channels channels, $sps sps)"
args=()
for i in $(seq 1 "$channels"); do args+=(--channel "$(printf '%x' $((0x100 + i)))":$sps); done
"$winwrite" --start 2010-03-03T00:00:00 --minutes "$minutes" "${args[@]}" "$work/day" >/dev/null
samples=$((minutes * 60 * sps * channels))

echo "== SDS archive (mseed=)"
fresh_database
rm -rf "$work/archive" "$work/sds" && mkdir -p "$work/archive" "$work/sds"
convert_day "miniSEED" "mseed=$work/sds"
sds_bytes=$(bytes_in "$work/sds")
echo "   $(find "$work/sds" -type f | wc -l) day files, $sds_bytes bytes," \
  "$(awk -v b="$sds_bytes" -v n="$samples" 'BEGIN { printf "%.3f", b / n }') bytes per sample"

middle=$(find "$work/day" -type f | sort | sed -n "$(((minutes + 1) / 2))p")
s=$(now_us)
(cd "$work" && "$tremcvt" BEN "$middle" "mseed=$work/sds" >/dev/null) || true
e=$(now_us)
echo "   the middle minute again (rebuilds $channels full day files): $(((e - s) / 1000)) ms"

echo "== TRZ archive"
fresh_database
rm -rf "$work/archive" && mkdir -p "$work/archive"
convert_day "TRZ"
trz_bytes=$(bytes_in "$work/archive")
echo "   $(find "$work/archive" -type f | wc -l) files, $trz_bytes bytes," \
  "$(awk -v b="$trz_bytes" -v n="$samples" 'BEGIN { printf "%.3f", b / n }') bytes per sample"
echo "   rows: $(sqlite3 "$work/archive.db" 'select count(*) from FILELIST')"

if [ -x "$batch" ]; then
  echo "== the same day through tremcvt_batch"
  cp -r "$work/sds" "$work/sds-per-file"
  rm -rf "$work/sds" && mkdir -p "$work/sds"
  fresh_database
  batch_day "miniSEED" "mseed=$work/sds"
  if diff -r "$work/sds" "$work/sds-per-file" >/dev/null; then same=yes; else same=no; fi
  echo "   SDS tree equal to the one of one tremcvt per file: $same"
  fresh_database
  rm -rf "$work/archive" && mkdir -p "$work/archive"
  batch_day "TRZ"
fi

if [ -x "$batch" ] && [ "$days" -gt 0 ]; then
  echo "== a week: $days days of 1440 minute files into one SDS tree, one tremcvt_batch run per day"
  rm -rf "$work/day"
  "$winwrite" --start 2010-03-03T00:00:00 --minutes $((days * 1440)) "${args[@]}" "$work/week" >/dev/null
  fresh_database
  rm -rf "$work/sds" && mkdir -p "$work/sds"
  d=0
  for folder in $(find "$work/week" -mindepth 1 -maxdepth 1 -type d | sort); do
    d=$((d + 1))
    files_dir="$folder" batch_day "   miniSEED day $d" "mseed=$work/sds"
  done
fi
