#!/bin/sh
# Sets up a fresh Debian 12 machine (missing packages only), builds Velotag and
# runs its main job.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
echo "velotag-cli is built: build/src/cli/velotag-cli. For example:"
echo "  build/src/cli/velotag-cli frames --format json FILE-OR-FOLDER..."
echo "The window comes with the media-library and window work."
