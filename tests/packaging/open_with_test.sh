#!/usr/bin/env bash
# "Open with Quillon" in file managers: the program's desktop entry is valid,
# hands the chosen files to the program (%F), and the desktop's database lists
# it for every kind of file the converter reads, as the file type a desktop
# gives such a file. Needs no installed tree.
# usage: open_with_test.sh SOURCE_DIR
set -euo pipefail
source=$(cd "$1" && pwd -P)
entry=$source/packaging/quillon.desktop
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop-file-validate --no-hints "$entry" || fail "quillon.desktop is not a valid desktop entry"
grep -q '^Exec=quillon %F$' "$entry" || fail "quillon.desktop does not hand its files to the program (Exec=quillon %F)"

mkdir -p "$stage/data/applications"
cp "$entry" "$stage/data/applications/"
update-desktop-database "$stage/data/applications"
cache=$stage/data/applications/mimeinfo.cache

# One file of each kind, told by its name as a file manager tells it.
mkdir "$stage/files"
cd "$stage/files"
printf '%%PDF-1.4\n' > a.pdf
printf '%%!PS-Adobe-3.0\n' > a.ps
printf '%%!PS-Adobe-3.0 EPSF-3.0\n' > a.eps
printf 'II*\0' > a.tif
printf 'BM' > a.bmp
printf '\n\5\1\1' > a.pcx
printf 'A letter to send\n' > a.txt
for f in a.pdf a.ps a.eps a.tif a.bmp a.pcx a.txt; do
  type=$(XDG_DATA_DIRS=/usr/share XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$f")
  type=${type%%;*}
  grep -q "^$type=.*quillon.desktop" "$cache" || fail "$f ($type) is not offered to Quillon"
done
echo "open-with test passed"
