#!/usr/bin/env bash
# Makes docs/main-window.png: starts Quillon under a virtual X display (Xvfb) on
# a fresh program folder holding a few sample faxes in both lists, and captures
# the screen. Usage: scripts/screenshot.sh [OUTPUT.png]
# scripts/screenshot.sh covers: docs/cover-editor.png (the Fax Cover Sheet Editor)
# and docs/cover-page.png (a cover page read back from its fax file).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = covers ]; then
  [ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j "${QN_JOBS:-$(nproc)}" --target quillon-covershots >/dev/null
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  export QUILLON_HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  xvfb-run -a -s "-screen 0 1024x768x24" build/bin/quillon-covershots editor docs/cover-editor.png
  QT_QPA_PLATFORM=offscreen build/bin/quillon-covershots page docs/cover-page.png
  echo "wrote docs/cover-editor.png docs/cover-page.png"
  exit 0
fi
out=${1:-docs/main-window.png}
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake -S . -B build >/dev/null
cmake --build build -j "${QN_JOBS:-$(nproc)}" --target quillon quillon-sample >/dev/null
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export QUILLON_HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
build/bin/quillon-sample "$home"
mkdir -p "$home/SEND" "$home/Receive"

cat > "$home/QN.INI" <<'INI'
[Modem]
ComPort=0
[TMainScreen_Placement]
Left=0
Top=0
Right=1100
Bottom=620
Maximized=0
INI

xvfb-run -a -s "-screen 0 1100x620x24" bash -c '
  build/bin/quillon & pid=$!
  sleep 4
  import -window root "'"$out"'"
  kill $pid; wait $pid 2>/dev/null || true
'
echo "wrote $out"
