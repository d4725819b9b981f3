#!/usr/bin/env bash
# An installation into a staging folder (DESTDIR) holds everything the programs
# read at run time, the manual pages match the installed programs' --help, no
# program has the source or build folder compiled in, and the installed qnfax
# converts, decodes and opens tables with both folders hidden.
# usage: install_test.sh BUILD_DIR SOURCE_DIR
. "$(dirname "$0")/common.sh"

stage_install
unset QUILLON_DATA QUILLON_HOME

# -- files the programs and the desktop need --
for f in bin/quillon bin/qnfax share/applications/quillon.desktop share/mime/packages/quillon.xml \
  share/icons/hicolor/scalable/apps/quillon.svg share/icons/hicolor/48x48/apps/quillon.png \
  share/man/man1/quillon.1.gz share/man/man1/qnfax.1.gz share/doc/quillon/copyright; do
  [ -s "$root/$f" ] || fail "$f is not installed"
done
# Every help page of the sources is installed (the help window opens them by name).
diff -r "$source/data/help" "$root/share/quillon/help" || fail "installed help pages differ from data/help"
# Programs find their data relative to their own folder: bin/../share/quillon.
[ -d "$root/bin/../share/quillon/help/qn" ] || fail "no help beside the installed programs"

# -- no build-tree or source-tree path compiled into a program (sanitizer builds
#    carry the source file names of their checks, so they are left out here) --
for p in "$root"/bin/*; do
  [ "${QN_SANITIZED:-0}" = 1 ] && break
  objcopy -O binary --only-section=.rodata "$p" "$stage/rodata"
  for dir in "$build" "$source"; do
    if grep -aqF "$dir" "$stage/rodata"; then fail "$(basename "$p") has $dir compiled in"; fi
  done
done

# -- manual pages: valid roff, and true to the installed programs' --help --
for page in "$root"/share/man/man1/*.1.gz; do
  gzip -t "$page"
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
man_text() { LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/share/man/man1/$1.1.gz" 2>/dev/null | col -b; }
man_text qnfax > "$stage/qnfax.txt"
commands=$("$root/bin/qnfax" --help | sed -n '/^commands:/,/^$/p' | grep -E '^  [^ ]' | awk '{print $1}')
[ -n "$commands" ] || fail "qnfax --help lists no commands"
for c in $commands; do
  for option in $("$root/bin/qnfax" "$c" --help 2>&1 | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" "$stage/qnfax.txt" || fail "qnfax.1 lacks $c $option"
  done
  grep -qE "^ +$c( |$)" "$stage/qnfax.txt" || fail "qnfax.1 lacks the command $c"
done
for p in quillon quillon-viewer; do
  [ -x "$root/bin/$p" ] || continue
  man_text "$p" > "$stage/$p.txt"
  for option in $("$root/bin/$p" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" "$stage/$p.txt" || fail "$p.1 lacks $option"
  done
  "$root/bin/$p" --version | grep -qF "$(sed -n 's/^project(Quillon VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")" \
    || fail "$p --version is not the project version"
done

# -- the installed qnfax at work, with the source and build folders out of reach --
work=$stage/work
mkdir -p "$work/home"
printf 'Quillon installed\fsecond page\n' > "$work/letter.txt"
cat > "$stage/use.sh" <<SCRIPT
set -euo pipefail
cd "$work"
if [ "\${1:-}" = hidden ]; then
  for dir in "$build" "$source"; do
    if [ -e "\$dir/CMakeLists.txt" ] || [ -e "\$dir/CMakeCache.txt" ]; then echo "\$dir still reachable"; exit 3; fi
  done
fi
export QUILLON_HOME=$work/home
q=$root/bin/qnfax
\$q convert letter.txt -o LETTER.APF --fine
\$q info LETTER.APF | grep -q '^Pages: *2\$'
\$q decode LETTER.APF -o letter.pbm --page 2
head -c 2 letter.pbm | grep -q P4
mkdir tables && \$q db init tables >/dev/null
\$q db append tables/QNOUT.DBF SUBJECT=installed
\$q db dump tables/QNOUT.DBF | grep -q installed
\$q db check tables/QNOUT.DBF
SCRIPT
hidden=0
if unshare --mount --propagation private true 2>/dev/null; then
  unshare --mount --propagation private bash -c \
    "mount -t tmpfs none '$build' && mount -t tmpfs none '$source' && bash '$stage/use.sh' hidden" && hidden=1 || fail "installed qnfax failed without the build tree"
elif unshare --user --map-root-user --mount true 2>/dev/null; then
  unshare --user --map-root-user --mount bash -c \
    "mount -t tmpfs none '$build' && mount -t tmpfs none '$source' && bash '$stage/use.sh' hidden" && hidden=1 || fail "installed qnfax failed without the build tree"
fi
if [ $hidden = 0 ]; then
  echo "note: no mount namespace here; running without hiding the build tree"
  bash "$stage/use.sh" || fail "installed qnfax failed"
fi
echo "install test passed"
