#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
jobs=${QN_JOBS:-$(nproc)}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQN_WERROR=ON "$@"
elif [ $# -gt 0 ]; then
  cmake -S . -B "$dir" "$@"
fi
cmake --build "$dir" -j "$jobs"
