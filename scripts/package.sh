#!/usr/bin/env bash
# Makes the Debian package quillon_<version>_amd64.deb in the checkout's folder:
# builds the usual tree (build/) and packs what `cmake --install` puts under /usr,
# with the dependencies dpkg-shlibdeps finds in the programs.
# Usage: scripts/package.sh [OUTPUT_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)
bash scripts/setup.sh
bash scripts/build.sh build
(cd build && cpack -G DEB -B "$out/_CPack_Packages.tmp" >/dev/null)
mv "$out"/_CPack_Packages.tmp/quillon_*_amd64.deb "$out"/
rm -rf "$out/_CPack_Packages.tmp"
ls "$out"/quillon_*_amd64.deb
