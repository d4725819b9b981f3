#!/usr/bin/env bash
# Makes the Debian package quillon_<version>_amd64.deb in the checkout's folder
# (or OUTPUT_FOLDER) from the Debian source package in debian/:
# dpkg-buildpackage -us -uc -b, then lintian (overrides in
# debian/quillon.lintian-overrides).
# Usage: scripts/package.sh [OUTPUT_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)
bash scripts/setup.sh
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd .. && pwd)} CCACHE_NOHASHDIR=1
dpkg-buildpackage -us -uc -b
version=$(dpkg-parsechangelog -S Version)
for f in ../quillon_"${version}"_amd64.deb ../quillon_"${version}"_amd64.buildinfo ../quillon_"${version}"_amd64.changes \
  ../quillon-dbgsym_"${version}"_amd64.deb; do
  if [ -f "$f" ] && [ "$(cd "$(dirname "$f")" && pwd)" != "$out" ]; then mv -f "$f" "$out"/; fi
done
lintian --fail-on error "$out/quillon_${version}_amd64.deb"
ls "$out"/quillon_"${version}"_amd64.deb
