#!/bin/sh
# Builds the WIN decoder's fuzz target with clang (libFuzzer, ASan, UBSan) and
# runs it for a bounded time.
#   tests/win/run_fuzz.sh <build-dir> <seconds>
# Exits non-zero when the build fails or the fuzzer finds a crash.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 <build-dir> <seconds>" >&2
    exit 2
fi
build_dir=$1
seconds=$2
source_dir=${TREMCVT_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}

cc=$(command -v clang || command -v clang-14 || true)
cxx=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$cc" ] || [ -z "$cxx" ]; then
    echo "run_fuzz.sh: clang is needed for libFuzzer" >&2
    exit 2
fi

cmake -S "$source_dir" -B "$build_dir" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
    -DTREMCVT_FUZZ=ON -DTREMCVT_SANITIZE=ON \
    -DTREMCVT_BUILD_LAUNCHER=OFF -DTREMCVT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j2 --target fuzz_decoder

# Seeds: the real recordings when they are at hand, else an empty corpus.
corpus="$build_dir/fuzz_corpus"
mkdir -p "$corpus"
shared="$(cd "$(dirname "$0")/../.." && pwd)/../shared/data/win"
if [ -d "$shared" ]; then
    for f in "$shared"/*; do
        case "$f" in *.md) ;; *) cp "$f" "$corpus/" 2>/dev/null || true ;; esac
    done
fi

fuzzer=$(find "$build_dir" -type f -name fuzz_decoder -perm -u+x | head -n 1)
cd "$build_dir"
exec "$fuzzer" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
