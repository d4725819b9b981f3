#!/usr/bin/env bash
# Installs what is needed, builds Quillon and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
if [ -x build/bin/quillon ]; then
  exec build/bin/quillon "$@"
fi
exec build/bin/qnfax --help
