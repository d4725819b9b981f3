#!/usr/bin/env bash
# Makes docs/main-window.png: starts Quillon under a virtual X display (Xvfb) on
# a fresh program folder holding a few sample faxes in both lists, and captures
# the screen. Usage: scripts/screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/main-window.png}
bash scripts/build.sh build >/dev/null
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export QUILLON_HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
q=build/bin/qnfax

"$q" db init "$home" >/dev/null
mkdir -p "$home/SEND" "$home/Receive"
out_dbf=$home/QNOUT.DBF
rec_dbf=$home/QNREC.DBF
"$q" db append "$out_dbf" SUBJECT="Quarterly figures" RECIPIENT="Harbour Supplies Ltd" PHONE="+44 20 7946 0321" \
  DATESENT=20261203 TIMESENT=09:41 LASTRESULT=OK FAXDOC=FAX00000.APF FAXCOVER=COV00000.APF NOTES="Sent with cover" CODES=ACC-7 >/dev/null
"$q" db append "$out_dbf" SUBJECT="Order 5521 confirmation" RECIPIENT="Marlow & Sons" PHONE="555-0142" \
  DATESENT=20261204 TIMESENT=14:05 LASTRESULT=OK FAXDOC=FAX00001.APF CODES=ORD >/dev/null
"$q" db append "$out_dbf" SUBJECT="Meeting moved to Friday" RECIPIENT="Dr. Ana Ruiz" PHONE="555-0199" \
  LASTRESULT="Busy" FAXCOVER=COV00001.APF NOTES="Try again after lunch" >/dev/null
"$q" db append "$out_dbf" SUBJECT="Old price list" RECIPIENT="Kestrel Print" PHONE="555-0110" \
  DATESENT=20261112 TIMESENT=11:20 LASTRESULT=OK FAXDOC=FAX00002.APF ARCHIVED=T >/dev/null
"$q" db append "$rec_dbf" DATEREC=20261205 TIMEREC=08:12 FROM="+1 212 555 0187" PAGES=3 FAXFILE=REC00000.APF NOTES="Signed contract" >/dev/null
"$q" db append "$rec_dbf" DATEREC=20261206 TIMEREC=16:47 FROM="555 0142" PAGES=1 FAXFILE=REC00001.APF >/dev/null
"$q" db append "$rec_dbf" DATEREC=20261202 TIMEREC=10:03 FROM="FE RcvFax" PAGES=2 FAXFILE=REC00002.APF NOTES="Invoice 88" >/dev/null

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
