#!/bin/sh
# Sets up a fresh Debian 12 machine (missing packages only), builds Velotag and
# runs its main job.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
echo "Velotag's core libraries are built (build/src). The window and velotag-cli"
echo "are not there yet: they come with the tag, media-library and window work."
