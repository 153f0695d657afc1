#!/bin/sh
# Sets up a fresh Debian 12 machine (missing packages only), builds Velotag,
# writes the demo library into build/demo and opens the window on it. Where
# there is no display it says so and lists the demo library with velotag-cli.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
rm -rf build/demo
build/tools/make_demo tools/demo build/demo
mkdir -p build/demo-home
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "== Opening the window on the demo library (build/demo)"
  VELOTAG_HOME="$PWD/build/demo-home" exec build/src/gui/velotag "$PWD/build/demo"
fi
echo "== No display (\$DISPLAY and \$WAYLAND_DISPLAY are unset): the window cannot open here."
echo "== The demo library as the media list shows it (ID3v2 fields):"
build/src/cli/velotag-cli --home build/demo-home -r --show v2 list build/demo
