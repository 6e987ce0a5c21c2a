#!/usr/bin/env bash
# The picture of a real check: converts two hours of three stations (three
# channels each, 100 sps) with the real converter into a SQLite archive, with
# some minutes never recorded and one hour file shifted in the catalogue by
# half a minute, then runs "tremcvt_check verify" and "tremcvt_check
# availability --picture".
#
#   scripts/check-picture.sh <build-dir> <out.svg>
#
# The build needs tremcvt, tremcvt_check and winwrite. Everything but the
# picture lives in a temporary folder that is removed at the end.
set -euo pipefail

build="$(cd "${1:?usage: $0 <build-dir> <out.svg>}" && pwd)"
out="$(realpath -m "${2:?usage: $0 <build-dir> <out.svg>}")"
root="$(cd "$(dirname "$0")/.." && pwd)"
tremcvt="$build/converter/driver/tremcvt"
check="$build/converter/check/tremcvt_check"
winwrite="$build/tools/winwriter/winwrite"
for program in "$tremcvt" "$check" "$winwrite"; do
  [ -x "$program" ] || { echo "build $(basename "$program") first" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC ODBCINI="$work/odbc.ini" TREMCVT_SYSCONFDIR="$work"
mkdir -p "$work/archive"
stations=(KAM LNG TRM)
{
  printf '[DATABASE]\nODBC=TRZ\nUSER=trz\nPASSWORD=kpv\nUSE_TEND=1\n[DATA]\nDIR=%s\n' "$work/archive"
  printf '[system]\nnsta=%d\n' "${#stations[@]}"
  for i in "${!stations[@]}"; do printf '[sta%d]\nname=%s\nc1=BHZ\nc2=BHN\nc3=BHE\n' "$i" "${stations[$i]}"; done
} >"$work/tremcvt.ini"
"$root/scripts/create-archive-db" sqlite "$work/archive.db" "$work/odbc.ini" TRZ --force >/dev/null
for s in "${stations[@]}"; do
  for c in BHZ BHN BHE; do echo "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('$s','$c',100,'??');"; done
done | sqlite3 "$work/archive.db"

"$winwrite" --start 2010-03-03T10:00:00 --minutes 120 --channel c1:100 --channel c2:100 --channel c3:100 \
  "$work/win" >/dev/null
mapfile -t minutes < <(find "$work/win" -type f | sort)
for s in "${stations[@]}"; do
  for i in "${!minutes[@]}"; do
    # LNG lost 10:40 to 10:54, TRM everything after 11:30.
    [ "$s" = LNG ] && [ "$i" -ge 40 ] && [ "$i" -lt 55 ] && continue
    [ "$s" = TRM ] && [ "$i" -ge 90 ] && continue
    (cd "$work" && "$tremcvt" "$s" "${minutes[$i]}" >/dev/null) || true
  done
done
# KAM's BHE hour file of 11:00 catalogued half a minute early: an overlap.
sqlite3 "$work/archive.db" "update FILELIST set TBEGIN=TBEGIN-30, TEND=TEND-30 where STA='KAM' and CH='BHE' and TBEGIN=1267614000"

echo "== tremcvt_check verify"
(cd "$work" && "$check" verify) || echo "(exit $?)"
echo "== tremcvt_check availability --picture $out"
(cd "$work" && "$check" availability --picture "$out") || echo "(exit $?)"
