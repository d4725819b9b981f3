#!/usr/bin/env bash
# Adds the "Quillon Fax" print queue to CUPS (run as root):
#   scripts/install-printer.sh            copy the backend (mode 0700, so CUPS runs it
#                                         as root and it can write as the printing
#                                         user), install the PPD, add the queue
#   scripts/install-printer.sh --remove   remove the queue and the backend
# The backend and PPD are taken from the installed package when present, else
# from the build tree (build/bin/quillon-backend, src/printdriver/quillon-fax.ppd).
set -euo pipefail

queue=Quillon_Fax
backend_dir=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)/backend
# Found through a link too (the build tree links it into its data folder).
here=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "install-printer.sh: run as root (the backend goes into $backend_dir)" >&2
  exit 1
fi

if [ "${1:-}" = "--remove" ]; then
  lpadmin -x "$queue" 2>/dev/null || true
  # The packaged backend belongs to the package; only a copied one is removed.
  if [ -f "$backend_dir/quillon" ] && ! dpkg -S "$backend_dir/quillon" >/dev/null 2>&1; then
    rm -f "$backend_dir/quillon"
  fi
  echo "Quillon Fax removed"
  exit 0
fi

ppd=/usr/share/ppd/quillon/quillon-fax.ppd
[ -f "$ppd" ] || ppd=$here/src/printdriver/quillon-fax.ppd
if [ ! -f "$backend_dir/quillon" ] || ! dpkg -S "$backend_dir/quillon" >/dev/null 2>&1; then
  built=${QUILLON_BACKEND:-$here/build/bin/quillon-backend}
  if [ ! -x "$built" ]; then
    echo "install-printer.sh: no backend at $built; build the project first" >&2
    exit 1
  fi
  install -m 0700 -o root -g root "$built" "$backend_dir/quillon"
  # The backend converts documents in quillon-convert, which it looks for where
  # the build tree would install it (<prefix>/libexec/quillon).
  prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$(dirname "$built")/../CMakeCache.txt" 2>/dev/null || true)
  converter=$(dirname "$built")/quillon-convert
  if [ -n "$prefix" ] && [ -x "$converter" ]; then
    install -D -m 0755 -o root -g root "$converter" "$prefix/libexec/quillon/quillon-convert"
  fi
fi
chmod 0700 "$backend_dir/quillon"
# Authenticated operations: a job's user name is the one the local connection
# proves (anyone could otherwise put faxes into another user's SEND folder with
# lp -U); never shared on the network; a job that fails is dropped, the queue stays.
lpadmin -p "$queue" -D "Quillon Fax" -L "Quillon SEND folder" -v quillon:/ -P "$ppd" -E -o printer-op-policy=authenticated -o printer-is-shared=false -o printer-error-policy=abort-job
cupsenable "$queue" 2>/dev/null || true
cupsaccept "$queue" 2>/dev/null || true
echo "Quillon Fax added: print to \"$queue\" to make a fax in Quillon's outgoing list"
