#!/bin/sh
# Peak memory of windump on a 60-minute file of 18 channels at 100 samples per
# second, against the budget of 1.5 times the samples' float bytes plus 16 MiB.
#   bench/windump_memory.sh <build-dir>
# Needs windump and winwrite built in <build-dir> and /usr/bin/time.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 <build-dir>" >&2
    exit 2
fi
build_dir=$1
windump=$(find "$build_dir" -type f -name windump -perm -u+x | head -n 1)
winwrite=$(find "$build_dir" -type f -name winwrite -perm -u+x | head -n 1)
if [ -z "$windump" ] || [ -z "$winwrite" ]; then
    echo "windump_memory.sh: build windump and winwrite in $build_dir first" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

channels=""
i=0
while [ $i -lt 18 ]; do
    channels="$channels --channel $(printf '%x' $((0xa100 + i))):100"
    i=$((i + 1))
done
# shellcheck disable=SC2086
"$winwrite" --start 2010-03-03T02:00:00 --seconds 3600 $channels "$work/hour.win"

/usr/bin/time -v "$windump" "$work/hour.win" >"$work/out.txt" 2>"$work/time.txt"
peak_kib=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")
samples=$(sed -n 's/.* samples=\([0-9]*\) .*/\1/p' "$work/out.txt" | awk '{s += $1} END {print s}')
float_kib=$((samples * 4 / 1024))
limit_kib=$((float_kib * 3 / 2 + 16 * 1024))
file_kib=$(( $(wc -c <"$work/hour.win") / 1024 ))

echo "file: $file_kib KiB, samples: $samples ($float_kib KiB as floats)"
echo "windump peak resident set: $peak_kib KiB (budget $limit_kib KiB)"
if [ "$peak_kib" -gt "$limit_kib" ]; then
    echo "over budget" >&2
    exit 1
fi
