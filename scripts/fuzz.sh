#!/bin/sh
# Builds the libFuzzer targets with clang and the sanitizers (build-fuzz/)
# and runs each for FUZZ_SECONDS seconds (default 60) from its committed
# seed corpus. A crash, a sanitizer report or a broken promise fails the run;
# the input that caused it is left in build-fuzz/.
set -eu
cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELOTAG_FUZZ=ON -DVELOTAG_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$JOBS" --target fuzz_id3v2

# New inputs go to a scratch folder, never into the committed seeds.
work=build-fuzz/corpus-id3v2
mkdir -p "$work"
# Every run writes files and flushes them; memory-backed storage keeps it fast.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
echo "== fuzzing id3v2 for ${FUZZ_SECONDS}s"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build-fuzz/fuzz/fuzz_id3v2 -max_total_time="$FUZZ_SECONDS" -max_len=16384 -timeout=30 \
  -rss_limit_mb=2048 -artifact_prefix=build-fuzz/ -print_final_stats=1 \
  "$work" fuzz/corpus/id3v2
