#!/bin/sh
# Sets up a fresh Debian 12 machine (missing packages only), builds both
# configurations and runs every test in each, then fuzzes the tag reader and
# writer for a minute (scripts/fuzz.sh; FUZZ_SECONDS changes how long).
set -eu
cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
export JOBS
scripts/deps.sh

for config in normal asan; do
  if [ "$config" = asan ]; then dir=build-asan; scripts/build.sh asan; else dir=build; scripts/build.sh; fi
  echo "== tests ($config)"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
done
scripts/fuzz.sh
echo "All tests passed."
