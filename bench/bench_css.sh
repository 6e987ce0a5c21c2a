#!/usr/bin/env bash
# CSS output speed of the tremcvt program.
#
#   bench/bench_css.sh <build-dir> [runs]
#
# One 60-minute WIN file of 18 channels at 100 sps (made by winwrite) is
# converted with "css=" into a fresh output directory, runs times (default 5)
# over a SQLite archive database: median wall time, and peak memory of one
# run under /usr/bin/time -v. Against it, the median time of cp copying one
# file of the same number of bytes as the output (wfdisc and ".w" files).
# For orientation it also times the converter on an empty WIN file (process
# start, ODBC connection and schema check, no samples) and a copy through
# user space (cat), since cp may copy inside the kernel.
# Everything lives in a temporary folder that is removed at the end.
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> [runs]}" && pwd)"
runs="${2:-5}"
root="$(cd "$(dirname "$0")/.." && pwd)"
tremcvt="$build/converter/driver/tremcvt"
winwrite="$build/tools/winwriter/winwrite"
[ -x "$tremcvt" ] && [ -x "$winwrite" ] || { echo "build tremcvt and winwrite in $build first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed for the peak memory" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC TREMCVT_SYSCONFDIR="$work" ODBCINI="$work/odbc.ini"

channels=18
args=()
for i in $(seq 1 "$channels"); do args+=(--channel "$(printf '%x' $((0x100 + i)))":100); done
"$winwrite" --start 2010-03-03T00:00:00 --seconds 3600 "${args[@]}" "$work/hour.win" >/dev/null

"$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
for i in $(seq 1 "$channels"); do
  printf "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('BEN','C%02d',100,'??');\n" "$i"
done | sqlite3 "$work/archive.db"
{
  printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\n[DATA]\nDIR=%s\n' "$work/archive"
  printf '[system]\nnsta=1\n[sta0]\nname=BEN\n'
  for i in $(seq 1 "$channels"); do printf '%x=C%02d\n' $((0x100 + i)) "$i"; done
} >"$work/tremcvt.ini"
mkdir -p "$work/archive"

# Median of the numbers (microseconds) in a file, printed in milliseconds.
median_ms() { sort -n "$1" | awk '{ t[NR] = $1 } END { printf "%.1f", t[int((NR + 1) / 2)] / 1000 }'; }

now_us() { echo "${EPOCHREALTIME/./}"; }

convert() {  # output directory
  (cd "$work" && "$tremcvt" BEN "$work/hour.win" "css=$1/hour.wfdisc")
}

# A first run checks the output before anything is timed.
report="$(convert "$work/out")"
if [ -n "$(printf '%s' "$report" | grep -v '^=\{60\}$' | grep -v '^Checking \(INI-file\|SITECHAN\)$' || true)" ]; then
  echo "the conversion reported problems:" >&2
  printf '%s\n' "$report" >&2
  exit 1
fi
files=$(find "$work/out" -type f | wc -l)
bytes=$(find "$work/out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
[ "$files" -eq $((channels + 1)) ] || { echo "expected $((channels + 1)) output files, found $files" >&2; exit 1; }
echo "input: $(stat -c %s "$work/hour.win") bytes of WIN, $channels channels x 360000 samples"
echo "output: $bytes bytes in $files files (wfdisc and one .w per channel)"

: >"$work/tremcvt-times"
for _ in $(seq 1 "$runs"); do
  rm -rf "$work/out"
  s=$(now_us)
  convert "$work/out" >/dev/null
  e=$(now_us)
  echo $((e - s)) >>"$work/tremcvt-times"
done

rm -rf "$work/out"
(cd "$work" && /usr/bin/time -v "$tremcvt" BEN "$work/hour.win" "css=$work/out/hour.wfdisc" \
  >/dev/null 2>"$work/time.txt")
rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
cpu=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "user %.2f s, system %.2f s", u, s }' \
  "$work/time.txt")

: >"$work/empty.win"
: >"$work/empty-times"
for _ in $(seq 1 "$runs"); do
  rm -rf "$work/out-empty"
  s=$(now_us)
  (cd "$work" && "$tremcvt" BEN "$work/empty.win" "css=$work/out-empty/empty.wfdisc" >/dev/null)
  e=$(now_us)
  echo $((e - s)) >>"$work/empty-times"
done

head -c "$bytes" /dev/urandom >"$work/copy-src"
cat "$work/copy-src" >/dev/null
: >"$work/cp-times"
: >"$work/cat-times"
for _ in $(seq 1 "$runs"); do
  rm -f "$work/copy-dst"
  s=$(now_us)
  cp "$work/copy-src" "$work/copy-dst"
  e=$(now_us)
  echo $((e - s)) >>"$work/cp-times"
  rm -f "$work/copy-dst"
  s=$(now_us)
  cat "$work/copy-src" >"$work/copy-dst"
  e=$(now_us)
  echo $((e - s)) >>"$work/cat-times"
done

tremcvt_ms=$(median_ms "$work/tremcvt-times")
cp_ms=$(median_ms "$work/cp-times")
echo "tremcvt css=: median wall $tremcvt_ms ms over $runs runs, peak RSS $rss KiB" \
  "(samples as floats: $((channels * 360000 * 4 / 1024)) KiB); CPU of that run: $cpu"
echo "tremcvt css= on an empty WIN file (start, connection, schema check): median wall" \
  "$(median_ms "$work/empty-times") ms"
echo "cp of $bytes bytes: median wall $cp_ms ms over $runs runs"
echo "cat of $bytes bytes into a new file: median wall $(median_ms "$work/cat-times") ms"
awk -v a="$tremcvt_ms" -v b="$cp_ms" 'BEGIN { printf "ratio tremcvt / cp: %.2f (aim: at most 2)\n", a / b }'
