#!/bin/sh
# Builds the libFuzzer targets with clang and the sanitizers (build-fuzz/)
# and runs each from its committed seed corpus (fuzz/corpus/NAME): the two
# ID3v2 targets for FUZZ_SECONDS seconds (default 25), every other target
# for two fifths of that, JOBS (default 2) at a time. A crash, a sanitizer
# report or a broken promise fails the run; the input that caused it is
# left in build-fuzz/ and the target's log is shown.
#
# scripts/fuzz.sh xml http   runs only the targets named.
set -eu
cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
FUZZ_SECONDS="${FUZZ_SECONDS:-25}"
OTHER_SECONDS=$((FUZZ_SECONDS * 2 / 5))
[ "$OTHER_SECONDS" -ge 1 ] || OTHER_SECONDS=1
TARGETS="${*:-id3v2 id3v2_writer id3v1 ini csv xml http cddb wave rename url}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELOTAG_FUZZ=ON -DVELOTAG_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$JOBS" --target fuzz_all

# Every run of the tag targets writes files and flushes them; memory-backed
# storage keeps it fast.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

# One target; new inputs go to a scratch folder, never into the committed seeds.
fuzz_one() {
  case "$1" in id3v2*) seconds=$FUZZ_SECONDS; max_len=16384 ;; *) seconds=$OTHER_SECONDS; max_len=8192 ;; esac
  work="build-fuzz/corpus-$1"
  log="build-fuzz/fuzz-$1.log"
  mkdir -p "$work"
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "build-fuzz/fuzz/fuzz_$1" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 \
       -rss_limit_mb=2048 -artifact_prefix="build-fuzz/$1-" "$work" "fuzz/corpus/$1" >"$log" 2>&1
  then
    echo "== fuzz $1: $(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | tail -n 1)s"
  else
    echo "== fuzz $1 FAILED; its log:"
    tail -n 60 "$log"
    return 1
  fi
}

# The targets dealt round-robin into JOBS lanes that run side by side.
lane=0
pids=""
while [ "$lane" -lt "$JOBS" ]; do
  mine=""
  i=0
  for t in $TARGETS; do
    [ $((i % JOBS)) -eq "$lane" ] && mine="$mine $t"
    i=$((i + 1))
  done
  (
    status=0
    for t in $mine; do fuzz_one "$t" || status=1; done
    exit "$status"
  ) &
  pids="$pids $!"
  lane=$((lane + 1))
done
failed=0
for pid in $pids; do wait "$pid" || failed=1; done
[ "$failed" -eq 0 ] || { echo "fuzzing found a fault"; exit 1; }
echo "fuzzing: no fault found"
