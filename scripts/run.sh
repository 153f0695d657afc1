#!/bin/sh
# Sets up a fresh Debian 12 machine (missing packages only), builds Velotag,
# writes the demo library into build/demo and lists it with velotag-cli.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
rm -rf build/demo
build/tools/make_demo tools/demo build/demo
mkdir -p build/demo-home
echo "== The demo library as the media list shows it (ID3v2 fields):"
build/src/cli/velotag-cli --home build/demo-home -r --show v2 list build/demo
