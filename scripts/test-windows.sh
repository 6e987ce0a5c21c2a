#!/usr/bin/env bash
# Cross-builds the Windows programs (tremcvt.exe, windump.exe, winwrite.exe and
# the unit tests) with mingw-w64 and tests them under wine:
#   1. the unit tests through ctest (the profile functions, directories and
#      free space are the real Windows ones, as wine provides them);
#   2. tremcvt.exe end to end against an SQLite data source (wine's odbc32
#      hands the calls to the host's unixODBC, so a private odbc.ini named by
#      ODBCINI works), with tremcvt.ini and trz.ini read through the Windows
#      profile functions and a data directory written with backslashes, into
#      the TRZ archive and as CSS output; the reports, exit codes, FILELIST
#      rows, file names and file bytes must equal what the Linux tremcvt makes
#      of the same input;
#   3. windump.exe and winwrite.exe against their Linux builds, the full
#      32-bit exit codes of tremcvt.exe, and its refusal of "mseed=" (the
#      Windows build has no libmseed);
#   4. the launcher tremcvt_GUI.exe: its dialog tests run in step 1 on a
#      virtual X display (Xvfb, started and stopped here), among them an
#      interval batch over the 11 real minute files with the real tremcvt.exe
#      into an SQLite archive; the Linux launcher's batch (its Qt test, run
#      here) converts the same minutes, and the FILELIST rows, file names and
#      file bytes must be equal.
#
#   scripts/test-windows.sh
#
# Installs mingw-w64, wine (64-bit only) and Xvfb from Debian when missing,
# and the Linux side through scripts/install-deps.sh. Builds into build-windows/ and,
# for the comparison, the Linux programs into build/ (WINDOWS_BUILD_DIR and
# LINUX_BUILD_DIR choose other directories). Exits non-zero on any failure.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
win_build="${WINDOWS_BUILD_DIR:-$root/build-windows}"
linux_build="${LINUX_BUILD_DIR:-$root/build}"
jobs="${JOBS:-2}"

fail() { echo "test-windows: $*" >&2; exit 1; }
# shellcheck source=lib/virtual-display.sh
. "$root/scripts/lib/virtual-display.sh"
step() { echo "=== $*"; }

# ---- packages --------------------------------------------------------------
"$root/scripts/install-deps.sh" mingw-w64 wine wine64 xvfb

# shellcheck source=lib/wine.sh
. "$root/scripts/lib/wine.sh"
[ -x "$wine" ] || fail "no wine loader found"

# ---- wine ------------------------------------------------------------------
work="$(mktemp -d /tmp/tremcvt-windows.XXXXXX)"
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Local time decides the archive's file names: both sides get the same zone,
# written so that the Windows C runtime reads it too (UTC+9, no summer time).
export TZ=KST-9
unset TREMCVT_SYSCONFDIR
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  stop_virtual_display
  if [ "${KEEP_WINDOWS_WORK:-0}" = 1 ]; then echo "work directory kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# The launcher's dialog tests show real windows: wine needs an X display.
step "starting a virtual X display"
start_virtual_display "$work/xvfb.log" || fail "no virtual X display"
echo "DISPLAY=$DISPLAY"

step "starting wine in $WINEPREFIX"
# The server and the prefix come first: started from inside ctest, wine's
# background services would hold ctest's output pipe open.
mkdir -p "$WINEPREFIX"
"$wineserver" -p
"$wine" cmd /c exit >/dev/null 2>&1 || fail "wine does not start"
windows_dir="$WINEPREFIX/drive_c/windows"
[ -d "$windows_dir" ] || fail "the wine prefix has no Windows directory"
# Wine draws its windows itself rather than leaving their frames to a window
# manager: none runs on the virtual display, and every window that closes
# would wait two seconds for one.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 ||
  fail "the wine registry cannot be set"
# One more start once the registry is written: the prefix is settled before
# ctest starts its programs two at a time.
"$wine" cmd /c exit >/dev/null 2>&1 || fail "wine does not start"

# ---- builds ----------------------------------------------------------------
step "cross-building into $win_build"
cmake -S "$root" -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$win_build" -j "$jobs"

step "building the Linux programs for the comparison in $linux_build"
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
linux_targets=(tremcvt windump winwrite)
# The Linux launcher's batch test, when Qt is there to build it.
if cmake --build "$linux_build" --target help | grep '^\.\.\. batch_run_test$' >/dev/null; then linux_targets+=(batch_run_test); fi
cmake --build "$linux_build" -j "$jobs" --target "${linux_targets[@]}"

tremcvt_exe="$win_build/converter/driver/tremcvt.exe"
windump_exe="$win_build/tools/windump.exe"
for f in "$tremcvt_exe" "$windump_exe" "$win_build/tools/winwriter/winwrite.exe"; do
  [ -f "$f" ] || fail "$f was not built"
done
tremcvt_linux="$linux_build/converter/driver/tremcvt"
windump_linux="$linux_build/tools/windump"
winwrite_linux="$linux_build/tools/winwriter/winwrite"

# "Z:" is the host's root directory under wine.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
no_cr() { tr -d '\r'; }

# FILELIST rows of an archive database, without the load dates.
filelist() {
  sqlite3 "$1" \
    "select STA,CH,LCODE,TBEGIN,TQTY,TEND,SPS,GAIN,CPATH,COMMENT,DATATYPE,CREATER,FOFF,CALIB,CALPER
       from FILELIST order by NINDEX"
}
# The same files, byte for byte, below two directories; their list goes to $3.
same_files() {
  (cd "$1" && find . -type f | sort) >"$3"
  [ -s "$3" ] || fail "nothing was written below $1"
  (cd "$2" && find . -type f | sort) | diff -u "$3" - || fail "the file names below $1 and $2 differ"
  while read -r f; do
    cmp "$1/$f" "$2/$f" || fail "$f differs below $1 and $2"
  done <"$3"
}

# The launchers' batches over the real minute files write into archives
# prepared alike: archive.db behind the data source TRZ of their own
# odbc.ini, with SITECHAN rows for the recordings' two channels, and the
# archive directory archive/.
prepare_launcher_archive() {
  mkdir -p "$1/archive"
  "$root/scripts/create-archive-db" sqlite "$1/archive.db" "$1/odbc.ini" TRZ >/dev/null
  sqlite3 "$1/archive.db" \
    "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('KAM','HHZ',100,'??'),('KAM','HHN',100,'??');"
}
launcher="$work/launcher"
prepare_launcher_archive "$launcher/windows"
prepare_launcher_archive "$launcher/linux"

# ---- unit and dialog tests under wine ----------------------------------------
step "unit tests under wine"
# A test program that wine fails to start at all (seen once: no output, 0 s)
# is run once more; a test that fails when it runs fails both times.
(cd "$win_build" && ctest --output-on-failure -j "$jobs" --timeout 300 -LE display --repeat until-pass:2)
# One at a time: the shell's folder browser loses its preselected folder
# when the directories of other tests come and go meanwhile.
step "dialog tests under wine"
(cd "$win_build" && ODBCINI="$launcher/windows/odbc.ini" TREMCVT_LAUNCHER_ARCHIVE="$(windows_path "$launcher/windows")" \
   ctest --output-on-failure --timeout 300 -L display)

# ---- end to end --------------------------------------------------------------

step "end-to-end conversion: tremcvt.exe and tremcvt on the same WIN files"
win="$work/win"
"$winwrite_linux" --start 2010-03-03T02:00:00 --minutes 3 \
  --channel c1:100 --channel c2:100 --channel c3:20 --channel 1a2b:100 "$win" >/dev/null
mapfile -t minutes < <(cd "$win" && find . -type f -name '*.0*' | sed 's|^\./||' | sort)
[ ${#minutes[@]} -eq 3 ] || fail "winwrite made ${#minutes[@]} files instead of 3"

# One run directory per side: an archive database with a data source that
# only trz.ini names, and a tremcvt.ini with the archive directory and the
# station list. Channel c3 is listed with another rate in SITECHAN and 1a2b is
# in neither list, so every run reports three problems.
prepare_side() {
  local side="$1" data_dir="$2"
  mkdir -p "$work/$side/archive" "$work/$side/css"
  "$root/scripts/create-archive-db" sqlite "$work/$side/archive.db" "$work/$side/odbc.ini" TRZWIN >/dev/null
  sqlite3 "$work/$side/archive.db" <<'SQL'
insert into SITECHAN(STA,CHAN,SPS,LCODE) values('DEMO','BHZ',100,'??');
insert into SITECHAN(STA,CHAN,SPS,LCODE) values('DEMO','BHN',100,'??');
insert into SITECHAN(STA,CHAN,SPS,LCODE) values('DEMO','BHE',50,'??');
SQL
  cat >"$work/$side/tremcvt.ini" <<INI
[DATABASE]
USE_TEND=1
[DATA]
DIR=$data_dir
[system]
nsta=1
[sta0]
name=DEMO
c1=BHZ
c2=BHN
c3=BHE
INI
}
prepare_side linux "$work/linux/archive"
prepare_side windows "$(windows_path "$work/windows/archive")"
mkdir -p "$work/linux/etc"
printf '[DATABASE]\nODBC=TRZWIN\n' >"$work/linux/etc/trz.ini"
printf '[DATABASE]\r\nODBC=TRZWIN\r\n' >"$windows_dir/trz.ini"

run_linux() {
  (cd "$work/linux" && ODBCINI="$work/linux/odbc.ini" TREMCVT_SYSCONFDIR="$work/linux/etc" \
     "$tremcvt_linux" "$@") || echo "[exit $?]"
}
run_windows() {
  (cd "$work/windows" && ODBCINI="$work/windows/odbc.ini" "$wine" "$tremcvt_exe" "$@" | no_cr) || echo "[exit $?]"
}
# Every minute in order (the first creates the hour files, the next ones
# extend them), the first minute once more (its data is replaced in place),
# then the CSS output of the last minute.
for m in "${minutes[@]}" "${minutes[0]}"; do
  echo "-- $m"
  run_linux DEMO "$win/$m" >>"$work/linux/report.txt"
  run_windows DEMO "$(windows_path "$win/$m")" >>"$work/windows/report.txt"
done
last="${minutes[2]}"
run_linux DEMO "$win/$last" "css=$work/linux/css/DEMO.wfdisc" >>"$work/linux/report.txt"
run_windows DEMO "$(windows_path "$win/$last")" "css=$(windows_path "$work/windows/css/DEMO.wfdisc")" \
  >>"$work/windows/report.txt"

grep -q 'SPS differs from SITECHAN (DEMO::BHE::20)' "$work/linux/report.txt" ||
  fail "the Linux report lacks the SITECHAN line: $(cat "$work/linux/report.txt")"
[ "$(grep -c '^\[exit 3\]$' "$work/linux/report.txt")" -eq 5 ] ||
  fail "the Linux runs did not all end with exit code 3: $(cat "$work/linux/report.txt")"
diff -u "$work/linux/report.txt" "$work/windows/report.txt" || fail "the reports differ"

filelist "$work/linux/archive.db" >"$work/linux/filelist.txt"
filelist "$work/windows/archive.db" >"$work/windows/filelist.txt"
[ "$(wc -l <"$work/linux/filelist.txt")" -eq 4 ] || fail "FILELIST: $(cat "$work/linux/filelist.txt")"
diff -u "$work/linux/filelist.txt" "$work/windows/filelist.txt" || fail "the FILELIST rows differ"

for dir in archive css; do
  same_files "$work/linux/$dir" "$work/windows/$dir" "$work/linux/$dir.files"
done
grep -q '/11/03032010-110000-BHZ.DEMO$' "$work/linux/archive.files" ||
  fail "the archive names do not use local time: $(cat "$work/linux/archive.files")"
echo "reports, exit codes, $(wc -l <"$work/linux/filelist.txt") FILELIST rows and" \
  "$(cat "$work/linux/archive.files" "$work/linux/css.files" | wc -l) files agree"

step "windump.exe and windump on the same WIN files"
(cd "$win" && "$windump_linux" "${minutes[@]}") >"$work/windump-linux.txt"
mapfile -t windows_minutes < <(printf '%s\n' "${minutes[@]}" | tr / '\\')
(cd "$win" && "$wine" "$windump_exe" "${windows_minutes[@]}" | no_cr | tr '\\' /) >"$work/windump-windows.txt"
[ -s "$work/windump-linux.txt" ] || fail "windump printed nothing"
diff -u "$work/windump-linux.txt" "$work/windump-windows.txt" || fail "the windump outputs differ"

step "winwrite.exe and winwrite write the same WIN files"
"$wine" "$win_build/tools/winwriter/winwrite.exe" --start 2010-03-03T02:00:00 --minutes 3 \
  --channel c1:100 --channel c2:100 --channel c3:20 --channel 1a2b:100 "$(windows_path "$work/win-windows")" >/dev/null
for m in "${minutes[@]}"; do
  cmp "$win/$m" "$work/win-windows/$m" || fail "winwrite.exe wrote $m differently"
done

step "exit codes of tremcvt.exe are full 32-bit values"
exit_code() {
  (cd "$work/windows" && ODBCINI="$work/windows/odbc.ini" \
     "$wine" cmd /c "$(windows_path "$tremcvt_exe") $* >NUL & echo exit=%ERRORLEVEL%" | no_cr | sed -n 's/^exit=//p')
}
[ "$(exit_code DEMO "$(windows_path "$work/no-such-file")")" = -2 ] || fail "an unopened WIN file does not end with -2"
[ "$(exit_code DEMO "$(windows_path "$win/${minutes[0]}")" odbc=NOSUCHSOURCE)" = -1 ] ||
  fail "a failed connection does not end with -1"
# This build has no libmseed: miniSEED output is refused before anything is
# touched, with its message and its own exit code.
[ "$(exit_code DEMO "$(windows_path "$win/${minutes[0]}")" "mseed=$(windows_path "$work/sds")")" = -5 ] ||
  fail "mseed= does not end with -5 in a build without miniSEED output"
mseed_report="$(cd "$work/windows" && ODBCINI="$work/windows/odbc.ini" \
  "$wine" "$tremcvt_exe" DEMO "$(windows_path "$win/${minutes[0]}")" "mseed=$(windows_path "$work/sds")" | no_cr)" || true
[ "$mseed_report" = "miniSEED output (mseed=) is not available in this build." ] ||
  fail "mseed= is not refused with its message: $mseed_report"

step "the Windows and the Linux launcher's batch over the real minute files"
qt_batch_test="$linux_build/tests/launcher/qt/batch_run_test"
[ -x "$qt_batch_test" ] || fail "the Linux launcher's tests are not built (Qt 6 missing?): $qt_batch_test"
(cd "$launcher/linux" && QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 ODBCINI="$launcher/linux/odbc.ini" \
   TREMCVT_LAUNCHER_ARCHIVE="$launcher/linux" "$qt_batch_test" realConverterConvertsMinuteFiles) \
  >"$launcher/linux/qt-test.txt" 2>&1 || fail "the Linux launcher's batch failed: $(cat "$launcher/linux/qt-test.txt")"
filelist "$launcher/linux/archive.db" >"$launcher/linux/filelist.txt"
filelist "$launcher/windows/archive.db" >"$launcher/windows/filelist.txt"
[ "$(wc -l <"$launcher/linux/filelist.txt")" -eq 2 ] ||
  fail "the Linux launcher's FILELIST: $(cat "$launcher/linux/filelist.txt") $(cat "$launcher/linux/qt-test.txt")"
diff -u "$launcher/linux/filelist.txt" "$launcher/windows/filelist.txt" ||
  fail "the launchers' FILELIST rows differ"
same_files "$launcher/linux/archive" "$launcher/windows/archive" "$launcher/linux/archive.files"
echo "$(wc -l <"$launcher/linux/filelist.txt") FILELIST rows and $(wc -l <"$launcher/linux/archive.files")" \
  "archive files agree"

step "the Windows zip"
(cd "$win_build" && cpack -G ZIP >/dev/null) || fail "cpack could not make the zip"
"$root/tests/packaging/check-packages.sh" "$(ls -t "$win_build"/tremcvt-*-windows-x64.zip | head -n 1)" ||
  fail "the zip does not hold what README-Windows.txt says"

step "all Windows tests passed"
