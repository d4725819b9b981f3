#!/usr/bin/env bash
# Makes docs/main-window.png: starts Quillon under a virtual X display (Xvfb) on
# a fresh program folder holding a few sample faxes in both lists, and captures
# the screen. Usage: scripts/screenshot.sh [OUTPUT.png]
#        scripts/screenshot.sh viewer [OUTPUT.png]   the Fax Viewer on a converted
#                                                    letter (docs/fax-viewer.png)
#        scripts/screenshot.sh send [OUTPUT.png]     the Send Fax and Fax Status
#                                                    windows while a fax goes out
#                                                    through faxmodem-sim
#                                                    (docs/send-window.png)
#        scripts/screenshot.sh modem                 docs/modem-finder.png,
#                                                    docs/quick-analysis.png and
#                                                    docs/config-info.png
#        scripts/screenshot.sh receive [OUTPUT.png]  the main window in receive mode
#                                                    after a fax came in through
#                                                    faxmodem-sim
#                                                    (docs/receive-mode.png)
#        scripts/screenshot.sh covers                docs/cover-editor.png (the Fax
#                                                    Cover Sheet Editor) and
#                                                    docs/cover-page.png (a cover
#                                                    page read back from its file)
#        scripts/screenshot.sh designer [OUTPUT.png] the Cover Sheet Template Designer
#                                                    with a template open
#                                                    (docs/cover-designer.png)
#        scripts/screenshot.sh ports                 docs/port-list.png (the wizard's
#                                                    port page, COM5 mapped to a
#                                                    pseudo-terminal in [Ports])
#        scripts/screenshot.sh solver                docs/problem-solver.png (the
#                                                    page the error window opens)
#        scripts/screenshot.sh prefs                 docs/quick-setup.png (Quick Setup
#                                                    on a first run),
#                                                    docs/preferences-wizard.png (a
#                                                    page of the Preferences Wizard),
#                                                    docs/sip-account.png (Quick Setup
#                                                    with a SIP account, no modem)
#                                                    and docs/help-beside-wizard.png
#                                                    (F1's help beside the wizard)
set -euo pipefail
cd "$(dirname "$0")/.."

build() {
  [ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake -S . -B build >/dev/null
  cmake --build build -j "${QN_JOBS:-$(nproc)}" --target "$@" >/dev/null
}

# A fresh program folder in $home, removed at exit.
fresh_home() {
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  export QUILLON_HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
}

# capture WxH COMMAND...: runs the command on a virtual screen and captures it to $out.
capture() {
  local size=$1
  shift
  xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
    "$@" & pid=$!
    sleep 4
    import -window root "$OUT"
    kill $pid; wait $pid 2>/dev/null || true
  ' capture "$@"
  echo "wrote $out"
}

if [ "${1:-}" = covers ]; then
  build quillon-covershots
  fresh_home
  xvfb-run -a -s "-screen 0 1024x768x24" build/bin/quillon-covershots editor docs/cover-editor.png
  QT_QPA_PLATFORM=offscreen build/bin/quillon-covershots page docs/cover-page.png
  echo "wrote docs/cover-editor.png docs/cover-page.png"
  exit 0
fi

if [ "${1:-}" = prefs ]; then
  build prefs-shot
  fresh_home
  for mode in quick wizard help sip; do
    case $mode in
      quick) out=docs/quick-setup.png size=900x640 ;;
      sip) out=docs/sip-account.png size=900x640 ;;
      wizard) out=docs/preferences-wizard.png size=900x640 ;;
      *) out=docs/help-beside-wizard.png size=1280x680 ;;
    esac
    rm -f "$home/QN.INI"
    QUILLON_DATA=${QUILLON_DATA:-$PWD/data} xvfb-run -a -s "-screen 0 ${size}x24" build/bin/prefs-shot $mode "$out"
    echo "wrote $out"
  done
  exit 0
fi

if [ "${1:-}" = ports ]; then
  out=${2:-docs/port-list.png}
  build prefs-shot
  fresh_home
  # A pseudo-terminal stands in for a modem; it lives while the picture is taken.
  fifo=$home/pty-name
  mkfifo "$fifo"
  python3 -c 'import os, pty, sys, time
m, s = pty.openpty()
open(sys.argv[1], "w").write(os.ttyname(s) + "\n")
time.sleep(60)' "$fifo" &
  holder=$!
  pty_path=$(head -n1 "$fifo")
  printf '[Ports]\nCOM5=%s\n' "$pty_path" > "$home/QN.INI"
  xvfb-run -a -s "-screen 0 900x700x24" build/bin/prefs-shot ports "$out"
  kill "$holder" 2>/dev/null || true
  echo "wrote $out"
  exit 0
fi

if [ "${1:-}" = solver ]; then
  out=${2:-docs/problem-solver.png}
  build error-box-shot
  fresh_home
  xvfb-run -a -s "-screen 0 900x640x24" build/bin/error-box-shot "$out"
  echo "wrote $out"
  exit 0
fi

if [ "${1:-}" = modem ]; then
  build modem-tools-shot
  fresh_home
  xvfb-run -a -s "-screen 0 1024x768x24" build/bin/modem-tools-shot docs
  echo "wrote docs/modem-finder.png docs/quick-analysis.png docs/config-info.png"
  exit 0
fi

if [ "${1:-}" = designer ]; then
  out=${2:-docs/cover-designer.png}
  build quillon-designershot
  fresh_home
  xvfb-run -a -s "-screen 0 1024x800x24" build/bin/quillon-designershot "$out"
  echo "wrote $out"
  exit 0
fi

if [ "${1:-}" = send ]; then
  out=${2:-docs/send-window.png}
  build send-window-shot faxmodem-sim
  QN_BINARY_DIR=$PWD/build xvfb-run -a -s "-screen 0 1040x600x24" build/bin/send-window-shot "$out"
  echo "wrote $out"
  exit 0
fi

if [ "${1:-}" = receive ]; then
  out=${2:-docs/receive-mode.png}
  build receive-mode-shot quillon-sample faxmodem-sim
  fresh_home
  QN_BINARY_DIR=$PWD/build xvfb-run -a -s "-screen 0 1100x620x24" build/bin/receive-mode-shot "$out"
  echo "wrote $out"
  exit 0
fi

if [ "${1:-}" = viewer ]; then
  out=${2:-docs/fax-viewer.png}
  build quillon-viewer qnfax
  fresh_home
  cat > "$home/letter.txt" <<'TXT'
HARBOUR SUPPLIES LTD                         Quay Road 14, Portsmouth
                                             Tel +44 20 7946 0321

To:      Marlow & Sons, purchasing
Date:    7 December 2026
Subject: Order 5521 - confirmation and delivery

Dear Mr Marlow,

thank you for your order 5521 of 3 December. We confirm the
following items at the prices agreed:

   Qty  Item                              Unit price      Total
   ---  --------------------------------  ----------  ---------
    40  Rope, 12 mm, 50 m coil               38.50     1,540.00
    12  Shackle, galvanised, 16 mm            6.20        74.40
     6  Fender, cylindrical, 20 x 60 cm      27.90       167.40
                                                      ---------
                                          Net         1,781.80
                                          VAT 20%       356.36
                                          Total       2,138.16

Delivery by our own van on Friday 11 December, between 8 and
12 o'clock. Please sign the delivery note on receipt.

Payment within 30 days of the invoice date.

With kind regards,

J. Carter
Sales office
TXT
  printf '\fDELIVERY NOTE - order 5521\n\n  40 x rope, 12 x shackle, 6 x fender\n' >> "$home/letter.txt"
  build/bin/qnfax convert "$home/letter.txt" -o "$home/LETTER.APF" --fine >/dev/null
  cat > "$home/QN.INI" <<'INI'
[TFaxViewer_Placement]
Left=0
Top=0
Right=900
Bottom=700
Maximized=0
INI
  OUT=$out capture 900x700 build/bin/quillon-viewer "$home/LETTER.APF"
  exit 0
fi

out=${1:-docs/main-window.png}
build quillon quillon-sample
fresh_home
build/bin/quillon-sample "$home"
mkdir -p "$home/SEND" "$home/Receive"

cat > "$home/QN.INI" <<'INI'
[Modem]
ComPort=0
[TMainScreen_Placement]
Left=0
Top=0
Right=800
Bottom=600
Maximized=0
INI

# The smallest screen the windows are made for.
OUT=$out capture 800x600 build/bin/quillon
