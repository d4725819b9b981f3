#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking Quillon needs.
# Idempotent; run as root (or through sudo). Skips apt entirely when everything is present.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev python3
  # compiler cache: a second build of the same sources (another tree, a fresh clone) is quick
  ccache
  # Qt 6 (widgets, print support, multimedia for sounds)
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev libegl-dev libxkbcommon-dev
  # CUPS client library: finished print jobs are handed to the print queues
  libcups2-dev
  # test and benchmark frameworks
  libgtest-dev libgmock-dev libbenchmark-dev
  # peers the tests check against
  libtiff-dev libtiff-tools libspandsp-dev efax dbview imagemagick netpbm poppler-utils
  # virtual display for screenshots and widget tests, fonts
  xvfb xauth fonts-liberation fonts-dejavu-core
  # cover templates name their fonts; fontconfig finds the installed equivalents
  libfontconfig-dev
  # print to fax: PDF rendering, the PostScript interpreter (library and gs), the print spooler
  libpoppler-cpp-dev libgs-dev ghostscript cups cups-client cups-bsd
  # installing and packaging: desktop entry and file type checks, the .deb and its checks
  desktop-file-utils shared-mime-info xdg-utils libglib2.0-bin libfile-mimeinfo-perl
  dpkg-dev fakeroot lintian man-db debhelper
  # fax over IP: the SIP stack, and the independent peers the tests talk to (a T.38
  # gateway, a SIP proxy and registrar, a scripted SIP peer, a packet decoder)
  libsofia-sip-ua-dev rtpengine-daemon kamailio sip-tester tshark
  # the SIP account's password in the desktop's secret store
  libsecret-1-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
