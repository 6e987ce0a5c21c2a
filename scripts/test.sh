#!/usr/bin/env bash
# Installs what is missing, builds tremcvt twice (a normal build and one with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test in both,
# against SQLite and against a throwaway PostgreSQL cluster that this script
# starts and stops itself; cross-builds the Windows programs and tests them
# under wine; then fuzzes the WIN decoder for a bounded time.
#
#   scripts/test.sh                  everything
#   FUZZ_SECONDS=0 scripts/test.sh   without the fuzzing stage
#   WINDOWS=0 scripts/test.sh        without the Windows stage
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="${JOBS:-$(nproc)}"
fuzz_seconds="${FUZZ_SECONDS:-60}"

"$root/scripts/install-deps.sh"

pg_dir="$(mktemp -d /tmp/tremcvt-pg.XXXXXX)"
cleanup() { "$root/scripts/pg-test-cluster.sh" stop "$pg_dir" >/dev/null 2>&1 || true; }
trap cleanup EXIT
"$root/scripts/pg-test-cluster.sh" start "$pg_dir"
set -a; . "$pg_dir/env"; set +a

# Every stage says how long it took.
stage_started=$SECONDS
stage() {
  [ -z "${stage_name:-}" ] || echo "=== $stage_name took $((SECONDS - stage_started)) s"
  stage_name="$1"
  stage_started=$SECONDS
  [ -z "$stage_name" ] || echo "=== $stage_name"
}

run_suite() {
  local dir="$1"; shift
  stage "build $dir ($*)"
  cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$root/$dir" -j "$jobs"
  stage "test $dir"
  (cd "$root/$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

run_suite build
stage "the Debian package of build"
BUILD_DIR="$root/build" WINDOWS=0 "$root/scripts/package.sh"
# The SQLite3 ODBC driver leaks a little inside its own SQLConnect; the
# suppression needs full unwinding, since the driver has no frame pointers.
# The crash-point tests try every tenth fault point there: the normal
# build has tried them all.
TREMCVT_CRASH_POINT_STRIDE=10 \
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$root/tests/support/lsan-odbc.supp:fast_unwind_on_malloc=0:print_suppressions=0" \
  run_suite build-asan -DTREMCVT_SANITIZE=ON -DTREMCVT_BUILD_BENCH=OFF

# The Windows programs, cross-built with mingw-w64 and tested under wine, end
# to end against the Linux build of the first stage.
if [ "${WINDOWS:-1}" != 0 ]; then
  stage "Windows programs and zip under wine"
  LINUX_BUILD_DIR="$root/build" "$root/scripts/test-windows.sh"
fi

if [ "$fuzz_seconds" -gt 0 ] && [ -x "$root/tests/win/run_fuzz.sh" ]; then
  stage "fuzz the WIN decoder for ${fuzz_seconds} s"
  "$root/tests/win/run_fuzz.sh" "$root/build-fuzz" "$fuzz_seconds"
fi
stage ""
echo "=== all tests passed"
