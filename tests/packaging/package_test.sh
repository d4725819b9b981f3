#!/usr/bin/env bash
# The Debian package from the build tree: named quillon_<version>_amd64.deb, its
# dependencies computed from the programs, everything under /usr, a maintainer
# script that adds nobody to a group and tells about the dialout group once, and
# no lintian errors (warnings are printed).
# usage: package_test.sh BUILD_DIR SOURCE_DIR
. "$(dirname "$0")/common.sh"
version=$(sed -n 's/^project(Quillon VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")

(cd "$build" && cpack -G DEB -B "$stage/out" >"$stage/cpack.log" 2>&1) || { cat "$stage/cpack.log"; fail "cpack failed"; }
deb=$stage/out/quillon_${version}_amd64.deb
[ -f "$deb" ] || { ls "$stage/out"; fail "no quillon_${version}_amd64.deb"; }

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6core6 libqt6widgets6 libstdc++6 libgs10; do
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib"
done
dpkg-deb -c "$deb" | awk '{print $6}' > "$stage/contents"
for f in ./usr/bin/quillon ./usr/bin/qnfax ./usr/share/applications/quillon.desktop \
  ./usr/share/mime/packages/quillon.xml ./usr/share/man/man1/qnfax.1.gz ./usr/share/quillon/help/qn/1009.html; do
  grep -qx "$f" "$stage/contents" || fail "the package lacks $f"
done
if grep -v '^\./usr/' "$stage/contents" | grep -qv '^\./$'; then fail "files outside /usr: $(grep -v '^\./usr/' "$stage/contents")"; fi

# -- maintainer scripts: run with group tools that only record being called --
dpkg-deb -e "$deb" "$stage/control"
mkdir "$stage/fake"
for tool in adduser addgroup usermod gpasswd useradd groupadd; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/called"\n' "$tool" "$stage" > "$stage/fake/$tool"
  chmod +x "$stage/fake/$tool"
done
# CUPS' tools record their calls too: a running scheduler (lpstat -r answers).
for tool in lpadmin lpstat; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/cups-called"\n' "$tool" "$stage" > "$stage/fake/$tool"
  chmod +x "$stage/fake/$tool"
done
for script in preinst postinst prerm postrm; do
  [ -f "$stage/control/$script" ] || continue
  for args in "configure" "configure $version" "remove" "purge" "upgrade $version" "install"; do
    PATH=$stage/fake:$PATH sh "$stage/control/$script" $args > "$stage/out-$script-${args// /_}" 2>&1 \
      || fail "$script $args failed"
  done
done
[ ! -e "$stage/called" ] || fail "a maintainer script changes groups: $(cat "$stage/called")"
# The print queue: added at configure (through the installed script, which is
# not there in this test: the failure is reported, the installation goes on),
# removed at remove only.
grep -q 'could not be added' "$stage/out-postinst-configure" || fail "postinst does not add the print queue"
grep -qx 'lpadmin -x Quillon_Fax' "$stage/cups-called" || fail "prerm remove leaves the print queue"
[ "$(grep -c '^lpadmin -x' "$stage/cups-called")" = 1 ] || fail "the queue is removed on more than remove: $(cat "$stage/cups-called")"
grep -q dialout "$stage/out-postinst-configure" || fail "the first installation does not mention the dialout group"
! grep -q dialout "$stage/out-postinst-configure_$version" || fail "an upgrade repeats the dialout message"

# -- lintian: errors fail, warnings are shown --
lintian --tag-display-limit 0 --fail-on error "$deb" > "$stage/lintian" 2>&1 || { cat "$stage/lintian"; fail "lintian errors"; }
echo "lintian:"
cat "$stage/lintian"

# -- the package installed for real, with a (private) CUPS running: the queue is
# there with the secure options after installing and gone after removing. Only
# as root, and never over a Quillon the system already has. --
if [ "$(id -u)" -ne 0 ]; then
  echo "install with CUPS: skipped (not root)"
elif dpkg-query -W -f='${Status}' quillon 2>/dev/null | grep -q 'ok installed'; then
  echo "install with CUPS: skipped (a quillon package is installed here)"
elif sock=$("$source/tests/support/private_cupsd.sh" start "$stage/cups" "$(cups-config --serverbin)"); then
  trap '"$source/tests/support/private_cupsd.sh" stop "$stage/cups"; dpkg -P quillon >/dev/null 2>&1; rm -rf "$stage"' EXIT
  export CUPS_SERVER=$sock
  dpkg -i "$deb" > "$stage/dpkg-install" 2>&1 || { cat "$stage/dpkg-install"; fail "dpkg -i failed"; }
  grep -q 'is ready' "$stage/dpkg-install" || { cat "$stage/dpkg-install"; fail "postinst did not add the queue"; }
  conf=$stage/cups/printers.conf
  for _ in $(seq 25); do grep -q '^OpPolicy' "$conf" 2>/dev/null && break; sleep 0.2; done
  for line in '<Printer Quillon_Fax>' 'OpPolicy authenticated' 'Shared No' 'ErrorPolicy abort-job' 'DeviceURI quillon:/'; do
    grep -qx "$line" "$conf" || fail "installed queue lacks '$line': $(cat "$conf")"
  done
  lpstat -p Quillon_Fax >/dev/null 2>&1 || fail "lpstat does not know Quillon_Fax"
  dpkg -r quillon > "$stage/dpkg-remove" 2>&1 || { cat "$stage/dpkg-remove"; fail "dpkg -r failed"; }
  ! lpstat -p Quillon_Fax >/dev/null 2>&1 || fail "removing the package left the queue"
  dpkg -P quillon >/dev/null 2>&1 || true
  echo "install with CUPS: the queue came with the package and went with it"
else
  echo "install with CUPS: skipped (no private cupsd here)"
fi
echo "package test passed: $(basename "$deb")"
