#!/usr/bin/env bash
# Cost of keeping the tsindex table with the miniSEED output.
#
#   bench/bench_tsindex.sh <build-dir> [minutes]
#
# A day of one station (default 1440 minute files of three channels at
# 100 sps, made by winwrite) is converted into an empty SDS archive over a
# SQLite archive database, with [DATABASE] TSINDEX=0 and =1: one tremcvt
# process per file (median and total time per file), and, where it is
# built, one tremcvt_batch run, each also as processor time. With the index
# on, the rows are counted; the trees with and without it are compared.
# Everything lives in a temporary folder that is removed at the end.
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> [minutes]}" && pwd)"
minutes="${2:-1440}"
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
  printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\n[DATA]\nDIR=%s\n' "$work/archive"
  printf '[system]\nnsta=1\nnet=XX\n[sta0]\nname=BEN\n'
  for i in $(seq 1 "$channels"); do printf '%x=C%02d\n' $((0x100 + i)) "$i"; done
} >"$work/tremcvt.ini"
mkdir -p "$work/archive"

fresh() {  # tsindex setting (0 or 1)
  printf '[DATABASE]\nTSINDEX=%s\n' "$1" >"$work/trz.ini"
  "$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
  for i in $(seq 1 "$channels"); do
    printf "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','C%02d',%d,'??');\n" "$i" "$sps"
  done | sqlite3 "$work/archive.db"
  rm -rf "$work/sds" && mkdir -p "$work/sds"
}

now_us() { echo "${EPOCHREALTIME/./}"; }

# The processor time (user and system) the programs of the step took, in
# seconds: on a busy machine a steadier measure than the wall time.
cpu_seconds() {  # file written by /usr/bin/time
  awk '{ s += $1 + $2 } END { printf "%.2f", s }' "$1"
}

per_process() {  # label
  local times="$work/times.txt" cpu="$work/cpu.txt" failed=0
  : >"$times"
  : >"$cpu"
  for f in $(find "$work/day" -type f | sort); do
    s=$(now_us)
    (cd "$work" && /usr/bin/time -a -o "$cpu" -f "%U %S" "$tremcvt" BEN "$f" "mseed=$work/sds" \
      >/dev/null 2>>"$work/errors.txt") || failed=$((failed + 1))
    e=$(now_us)
    echo $((e - s)) >>"$times"
  done
  sort -n "$times" | awk -v label="$1" -v failed="$failed" -v cpu="$(cpu_seconds "$cpu")" '{ t[NR] = $1; sum += $1 }
    END { printf "%s: %d files, median %.2f ms per file, total %.2f s (processor %.2f s, %.2f ms per file), %d failed\n",
          label, NR, t[int((NR + 1) / 2)] / 1000, sum / 1e6, cpu, cpu * 1000 / NR, failed }'
}

in_batch() {  # label
  local s e cpu="$work/cpu.txt"
  : >"$cpu"
  s=$(now_us)
  (cd "$work" && find "$work/day" -type f | sort |
    /usr/bin/time -o "$cpu" -f "%U %S" "$batch" BEN --files-from - "mseed=$work/sds" >/dev/null 2>&1) || true
  e=$(now_us)
  awk -v label="$1" -v t=$((e - s)) -v n="$minutes" -v cpu="$(cpu_seconds "$cpu")" \
    'BEGIN { printf "%s: %d files in one tremcvt_batch run, %.2f s (%.2f ms per file; processor %.2f ms per file)\n",
             label, n, t / 1e6, t / 1e3 / n, cpu * 1000 / n }'
}

echo "== generating $minutes minute files ($channels channels, $sps sps)"
args=()
for i in $(seq 1 "$channels"); do args+=(--channel "$(printf '%x' $((0x100 + i)))":$sps); done
"$winwrite" --start 2010-03-03T00:00:00 --minutes "$minutes" "${args[@]}" "$work/day" >/dev/null

for setting in 0 1; do
  echo "== TSINDEX=$setting, one tremcvt per file"
  fresh "$setting"
  per_process "TSINDEX=$setting"
  [ "$setting" = 1 ] && echo "   tsindex rows: $(sqlite3 "$work/archive.db" 'select count(*) from tsindex')"
  cp -r "$work/sds" "$work/sds-$setting"
  if [ -x "$batch" ]; then
    echo "== TSINDEX=$setting, tremcvt_batch"
    fresh "$setting"
    in_batch "TSINDEX=$setting"
    [ "$setting" = 1 ] && echo "   tsindex rows: $(sqlite3 "$work/archive.db" 'select count(*) from tsindex')"
  fi
done
if diff -r "$work/sds-0" "$work/sds-1" >/dev/null; then same=yes; else same=no; fi
echo "== SDS trees with and without the index equal: $same"
