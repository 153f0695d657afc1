#!/bin/sh
# Installs the Debian packages Velotag builds, runs and tests with, only those
# that are missing. Runs apt-get as root, through sudo otherwise.
set -eu

PACKAGES="cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev
  libutf8proc-dev python3 python3-mutagen clang libclang-rt-14-dev libtag1-dev
  libssl-dev openssl libofa0-dev lame curl qt6-base-dev fonts-dejavu-core
  libarchive-dev libchromaprint-dev libchromaprint-tools libmpg123-dev
  nlohmann-json3-dev libcdio-dev libcdio-paranoia-dev libcdio-cdda-dev libcdio-utils
  cd-paranoia libdiscid-dev"

missing=""
for p in $PACKAGES; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $p" ;;
  esac
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
