#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
jobs=${QN_JOBS:-$(nproc)}
# Compiler cache entries name sources relative to the folder above the checkout,
# so another clone or work tree beside this one reuses them; the cache itself
# lives outside the checkout (ccache's default, ~/.cache/ccache).
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd .. && pwd)}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-8G}
# Precompiled headers (QN_PCH) are cached only when ccache may ignore their
# defines and time stamps.
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQN_WERROR=ON "$@"
elif [ $# -gt 0 ]; then
  cmake -S . -B "$dir" "$@"
fi
cmake --build "$dir" -j "$jobs"
