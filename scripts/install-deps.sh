#!/usr/bin/env bash
# Installs every Debian package that building and testing Quillmere needs.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Debian may start packaged daemons when it installs them; our tests start their
# own instances on free loopback ports, so keep the packaged ones from starting.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  created_policy=1
fi
cleanup() { if [ "$created_policy" = 1 ]; then $SUDO rm -f "$policy"; fi; }
trap cleanup EXIT

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev ccache
  libcurl4-openssl-dev libgtest-dev libgmock-dev
  libsndfile1-dev libasound2-dev
  # the icon bitmaps rendered from the SVG; dpkg-shlibdeps for the package
  librsvg2-bin dpkg-dev
  # TLS of the HTTPS probe, and the test certificates
  libssl-dev
  # platform facts the program reads
  netbase iproute2 procps util-linux
  # the desktop program's screenshots and widget tests under a virtual display
  xvfb xauth fonts-dejavu-core
  # a private session bus for the desktop notification tests
  dbus-daemon
  # real servers the tests start on loopback
  nginx-light apache2-utils
  # the HTTP probe against the other two common web servers
  apache2 lighttpd
  dovecot-core dovecot-pop3d dovecot-imapd
  opensmtpd python3 python3-pyftpdlib python3-aiosmtpd
  leafnode dnsmasq-base xinetd inetutils-telnetd socat fortune-mod
  fortunes-min
  # a TFTP server and an authoritative name server for the tools tests
  tftpd-hpa nsd
  # FTP with a banner of several lines
  vsftpd
  # a library the unpacked exim binary (below) needs
  libidn12
  # the HTTP server of the Prometheus metrics endpoint
  libmicrohttpd-dev
  # promtool and a Prometheus server for the metrics tests
  prometheus
  # the PostgreSQL driver of the results database, and a server for its tests
  libqt6sql6-psql postgresql-15
)

# Servers that conflict with one installed above (exim4-daemon-light with
# opensmtpd) are only downloaded; the tests unpack them with dpkg-deb -x into
# a temporary folder and run them from there.
DEB_CACHE=/var/cache/quillmere-test-debs
DOWNLOADS=(
  exim4-daemon-light
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

$SUDO mkdir -p "$DEB_CACHE"
for p in "${DOWNLOADS[@]}"; do
  if ! ls "$DEB_CACHE/${p}_"*.deb >/dev/null 2>&1; then
    (cd "$DEB_CACHE" && $SUDO apt-get download -qq "$p")
  fi
done
