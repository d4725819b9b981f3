# The start every packaging test shares (sourced with BUILD_DIR SOURCE_DIR as its
# arguments): both folders as absolute paths ($build, $source), a scratch folder
# removed at exit ($stage), fail(), and stage_install, which installs the build
# tree under $stage/root with the package's prefix and sets $root to its /usr.
set -euo pipefail
build=$(cd "$1" && pwd -P)
source=$(cd "$2" && pwd -P)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
stage_install() {
  DESTDIR=$stage/root cmake --install "$build" --prefix /usr >/dev/null
  root=$stage/root/usr
}
