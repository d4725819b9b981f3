#!/usr/bin/env bash
# The installed desktop entries are valid and start installed programs, and the
# installed file type makes a desktop name an APF fax file ours (by its name or,
# without one, by its signature) while a text file stays text; with the viewer
# installed, fax files open in it.
# usage: desktop_test.sh BUILD_DIR SOURCE_DIR
. "$(dirname "$0")/common.sh"
type=application/x-quillon-fax

stage_install

# -- desktop entries (the viewer's is checked from the sources when not installed) --
entries=("$root"/share/applications/*.desktop)
[ -e "$root/share/applications/quillon-viewer.desktop" ] || entries+=("$source/packaging/quillon-viewer.desktop")
for entry in "${entries[@]}"; do
  desktop-file-validate --no-hints "$entry" || fail "$(basename "$entry") is not a valid desktop entry"
done
for entry in "$root"/share/applications/*.desktop; do
  program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [ -x "$root/bin/$program" ] || fail "$(basename "$entry") starts $program, which is not installed"
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [ -s "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "$(basename "$entry") names icon $icon, not installed"
done
grep -q "^MimeType=$type;" "$source/packaging/quillon-viewer.desktop" || fail "the viewer entry does not take fax files"

# -- the file type, in a private data folder --
data=$stage/data
mkdir -p "$data/mime/packages"
cp "$root/share/mime/packages/quillon.xml" "$data/mime/packages/"
update-mime-database "$data/mime" >/dev/null 2>&1 || fail "update-mime-database rejects the file type"

mkdir "$stage/files"
cd "$stage/files"
printf 'A letter to send\n' > letter.txt
"$root/bin/qnfax" convert letter.txt -o letter.apf >/dev/null
cp letter.apf FAX0001            # a fax without its extension: told by the signature
cp letter.apf UPPER.APF          # upper-case names as the program writes them
printf 'APF10 looks like a fax but is a note\n' > note     # no 0x1A: not a fax
printf 'hello\n' > hello.txt

query() { XDG_DATA_HOME=$data XDG_DATA_DIRS=/usr/share XDG_CURRENT_DESKTOP=$1 xdg-mime query filetype "$2"; }
backends=(GNOME)
if mimetype --version >/dev/null 2>&1; then backends+=(generic); fi
for desktop in "${backends[@]}"; do
  for f in letter.apf FAX0001 UPPER.APF; do
    got=$(query "$desktop" "$f")
    [ "$got" = "$type" ] || fail "$desktop: $f is $got, not $type"
  done
  for f in hello.txt note; do
    got=$(query "$desktop" "$f")
    [ "$got" != "$type" ] || fail "$desktop: $f taken for a fax"
    case "$got" in text/plain*) ;; *) fail "$desktop: $f is $got, not text/plain" ;; esac
  done
done

# -- fax files open in the viewer once it is installed --
if [ -e "$root/share/applications/quillon-viewer.desktop" ]; then
  mkdir -p "$data/applications"
  cp "$root"/share/applications/*.desktop "$data/applications/"
  update-desktop-database "$data/applications"
  got=$(XDG_DATA_HOME=$data XDG_DATA_DIRS=/usr/share XDG_CONFIG_HOME=$stage/config XDG_CURRENT_DESKTOP=X-Generic \
    xdg-mime query default "$type")
  [ "$got" = quillon-viewer.desktop ] || fail "fax files open with '$got', not the viewer"
fi
echo "desktop test passed"
