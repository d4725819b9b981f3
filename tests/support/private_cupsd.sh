#!/usr/bin/env bash
# A private CUPS scheduler for tests: its own folders and socket under DIR,
# nothing of the system's CUPS touched. Needs root (cupsd runs backends as
# configured users) and cupsd.
#   private_cupsd.sh start DIR [SERVERBIN]   starts it, waits until it answers,
#                                            prints the socket path; exit 77 when
#                                            it cannot run here (a test skips)
#   private_cupsd.sh stop DIR                stops it
# SERVERBIN (default DIR/serverbin) is where its backends are looked up; the
# caller installs any it needs under SERVERBIN/backend. The environment
# variables QUILLON_BACKEND_HOMES and QUILLON_CONVERTER, when set, are passed
# on to the backends.
set -uo pipefail
cmd=$1 dir=$(realpath -m "$2")
if [ "$cmd" = stop ]; then
  [ -f "$dir/cupsd.pid" ] && kill "$(cat "$dir/cupsd.pid")" 2>/dev/null
  for _ in $(seq 25); do [ -S "$dir/cups.sock" ] && kill -0 "$(cat "$dir/cupsd.pid" 2>/dev/null)" 2>/dev/null || break; sleep 0.2; done
  rm -f "$dir/cupsd.pid"
  exit 0
fi
serverbin=${3:-$dir/serverbin}
skip() { echo "skipped: $*" >&2; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "cupsd needs root"
command -v cupsd >/dev/null && command -v lpadmin >/dev/null && command -v lp >/dev/null || skip "no cupsd"
[ -f /etc/cups/cupsd.conf ] || skip "no /etc/cups/cupsd.conf to take the policies from"
mkdir -p "$dir"/{spool,tmp,cache,state,log,ppd} "$serverbin/backend"
chmod 0755 "$dir" "$serverbin" "$serverbin/backend"
# cupsd starts every backend through its cups-exec helper, found under ServerBin.
system_serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
[ -x "$system_serverbin/daemon/cups-exec" ] || skip "no cups-exec"
if [ "$serverbin" != "$system_serverbin" ]; then
  mkdir -p "$serverbin/daemon" && cp "$system_serverbin/daemon/cups-exec" "$serverbin/daemon/"
fi
cat > "$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
LogLevel debug
WebInterface No
Browsing No
DirtyCleanInterval 0
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
CONF
# The operation policies (default, authenticated, ...) as the system's CUPS has them.
awk '/^<Policy /,/^<\/Policy>/' /etc/cups/cupsd.conf >> "$dir/cupsd.conf"
{
  echo "ServerRoot $dir"
  echo "ServerBin $serverbin"
  echo "DataDir /usr/share/cups"
  echo "RequestRoot $dir/spool"
  echo "TempDir $dir/tmp"
  echo "CacheDir $dir/cache"
  echo "StateDir $dir/state"
  echo "AccessLog $dir/log/access_log"
  echo "ErrorLog $dir/log/error_log"
  echo "PageLog $dir/log/page_log"
  echo "SystemGroup root"
  echo "Sandboxing relaxed"
  echo "FileDevice No"
  [ -n "${QUILLON_BACKEND_HOMES:-}" ] && echo "SetEnv QUILLON_BACKEND_HOMES $QUILLON_BACKEND_HOMES"
  [ -n "${QUILLON_CONVERTER:-}" ] && echo "SetEnv QUILLON_CONVERTER $QUILLON_CONVERTER"
} > "$dir/cups-files.conf"
setsid cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" </dev/null >"$dir/log/cupsd.out" 2>&1 &
echo $! > "$dir/cupsd.pid"
for _ in $(seq 50); do CUPS_SERVER=$dir/cups.sock lpstat -r >/dev/null 2>&1 && break; sleep 0.2; done
if ! CUPS_SERVER=$dir/cups.sock lpstat -r >/dev/null 2>&1; then
  tail -20 "$dir/log/error_log" >&2
  "$0" stop "$dir"
  skip "cupsd did not start"
fi
echo "$dir/cups.sock"
