#!/bin/sh
# Configures and builds one configuration:
#   scripts/build.sh            the normal build, in build/
#   scripts/build.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
set -eu
cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
case "${1:-}" in
  asan) dir=build-asan; extra="-DVELOTAG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug" ;;
  "") dir=build; extra="-DCMAKE_BUILD_TYPE=RelWithDebInfo" ;;
  *) echo "usage: $0 [asan]" >&2; exit 2 ;;
esac
# shellcheck disable=SC2086
cmake -S . -B "$dir" -G Ninja $extra >/dev/null
cmake --build "$dir" -j "$JOBS"
