#!/usr/bin/env bash
# A whole print job through a real CUPS queue: a private cupsd
# (tests/support/private_cupsd.sh), install-printer.sh's lpadmin
# line for the "Quillon Fax" queue, `lp` of a PDF; the fax and its job
# description must appear in the printing user's SEND folder. Skipped (77) when
# cupsd cannot run here: not root, or no cupsd.
# usage: cups_queue_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: cupsd needs root"; exit 77; }

# Faxes are never made for root: the jobs come from an ordinary account of the
# test's own, made on first use.
user=qnfaxtest
id "$user" >/dev/null 2>&1 || useradd --no-create-home --shell /bin/sh "$user" ||
  { echo "skipped: cannot make the account $user"; exit 77; }

dir=$build/test-output/printdriver/cups-queue
rm -rf "$dir"
mkdir -p "$dir"/{serverbin/backend,homes/$user/.local/share/quillon}
chown -R "$user" "$dir/homes/$user"
chmod 0755 "$dir" "$dir/serverbin" "$dir/serverbin/backend"
install -m 0700 "$build/bin/quillon-backend" "$dir/serverbin/backend/quillon"
# Only the backend is run: the PPD passes PDF through unchanged.
CUPS_SERVER=$(QUILLON_BACKEND_HOMES=$dir/homes QUILLON_CONVERTER=$build/bin/quillon-convert \
  "$source/tests/support/private_cupsd.sh" start "$dir") || exit $?
export CUPS_SERVER
trap '"$source/tests/support/private_cupsd.sh" stop "$dir"' EXIT

fail() { echo "FAIL: $*"; tail -40 "$dir/log/error_log"; exit 1; }
# The queue as install-printer.sh adds it.
line=$(grep '^lpadmin -p' "$source/scripts/install-printer.sh") || fail "no lpadmin line in install-printer.sh"
queue=Quillon_Fax ppd=$source/src/printdriver/quillon-fax.ppd
# A cupsd that has just started may still drop its first administrative
# connections ("Bad file descriptor"): the queue gets a few tries.
added=0
for _ in $(seq 10); do eval "$line" && { added=1; break; }; sleep 0.5; done
[ $added = 1 ] || fail "lpadmin refused the queue"

printf '%%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Through CUPS) show showpage\nshowpage\n' > "$dir/doc.ps"
ps2pdf "$dir/doc.ps" "$dir/doc.pdf" || fail "ps2pdf"
as_user() { runuser -u "$user" -- env CUPS_SERVER="$CUPS_SERVER" "$@"; }
chmod 0644 "$dir/doc.pdf" "$dir/doc.ps"
# The queue as cupsd keeps it (written at once: DirtyCleanInterval 0).
for _ in $(seq 25); do grep -q '^OpPolicy' "$dir/printers.conf" 2>/dev/null && break; sleep 0.2; done
grep -qx 'OpPolicy authenticated' "$dir/printers.conf" || fail "the queue is not authenticated: $(cat "$dir/printers.conf")"
grep -qx 'Shared No' "$dir/printers.conf" || fail "the queue is shared: $(cat "$dir/printers.conf")"
grep -qx 'ErrorPolicy abort-job' "$dir/printers.conf" || fail "error policy: $(cat "$dir/printers.conf")"
# Another user's name on the job is refused: the connection proves who prints.
if out=$(as_user lp -U root -d "$queue" -t "Not mine" "$dir/doc.pdf" 2>&1); then
  fail "a job for another user was taken: $out"
fi
echo "$out" | grep -qi 'unauthorized' || fail "no Unauthorized for another user's name: $out"
as_user lp -d "$queue" -t "Printed through CUPS" -o phone=5551234 -o "recipient='Ada Lindqvist'" "$dir/doc.pdf" ||
  fail "lp refused the job"
send=$dir/homes/$user/.local/share/quillon/SEND
for _ in $(seq 100); do [ -f "$send/FAX00000.JFD" ] && break; sleep 0.2; done
[ -f "$send/FAX00000.APF" ] && [ -f "$send/FAX00000.JFD" ] || fail "no fax in $send"
[ "$(sed -n 1p "$send/FAX00000.JFD")" = "5551234" ] && [ "$(sed -n 2p "$send/FAX00000.JFD")" = "Ada Lindqvist" ] &&
  [ "$(sed -n 3p "$send/FAX00000.JFD")" = "Printed through CUPS" ] || fail "JFD: $(cat -A "$send/FAX00000.JFD")"
"$build/bin/qnfax" info "$send/FAX00000.APF" | grep -q '^Pages: *2$' || fail "not two pages"
# PostScript reaches the backend as it is and goes through the interpreter
# (as the printing user, with CUPS' own temporary folder not writable for it).
as_user lp -d "$queue" -t "PostScript job" "$dir/doc.ps" || fail "lp refused the PostScript job"
for _ in $(seq 100); do [ -f "$send/FAX00001.JFD" ] && break; sleep 0.2; done
[ -f "$send/FAX00001.APF" ] || fail "no fax of the PostScript job"
"$build/bin/qnfax" info "$send/FAX00001.APF" | grep -q '^Pages: *2$' || fail "PostScript job: not two pages"
echo "cups queue test passed"
