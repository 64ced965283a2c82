#!/usr/bin/env bash
# The packaging test (run as root by .ci/run after the suites): builds the
# Debian package, installs it on this machine, checks what an installed
# Quillmere must do, then purges it and checks that nothing of it is left.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "test-package: FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "must run as root: it installs the package"

# The tools of the checks; Quillmere itself needs none of them.
tools=(systemd desktop-file-utils appstream man-db libcap2-bin util-linux iproute2)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

deb=$(bash scripts/package.sh | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "quillmere_${version}_${arch}.deb" ] || fail "package file named $(basename "$deb")"
echo "test-package: $deb"

# Dependencies come from the libraries the programs link, plus the SQLite
# driver plugin and setcap.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6core6 libqt6gui6 libqt6widgets6 libqt6sql6 libqt6sql6-sqlite libcurl4 libsndfile1 libasound2 libcap2-bin; do
  grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done

work=$(mktemp -d)
cleanup() {
  if dpkg-query -W -f='${Status}' quillmere 2>/dev/null | grep -q "install ok installed"; then
    apt-get purge -y -qq quillmere >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null

# Both programs report the package's version, for an ordinary user and with
# no display at all.
[ "$(runuser -u nobody -- quillmere-monitor --version)" = "quillmere-monitor $version" ] || fail "quillmere-monitor --version"
[ "$(runuser -u nobody -- env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM quillmere --version)" = "quillmere $version" ] \
  || fail "quillmere --version"

for program in /usr/bin/quillmere /usr/bin/quillmere-monitor; do
  getcap "$program" | grep -q "cap_net_raw=ep" || fail "no cap_net_raw on $program: $(getcap "$program")"
done

# An ECHO entry polled by nobody in a fresh network namespace, where the
# unprivileged ICMP socket is off: only the capability can make it succeed.
# A copy of the runner (cp drops the capability) must fail there.
mkdir "$work/nobody" && chown nobody: "$work/nobody"
settings=$work/nobody/quillmere.conf
runuser -u nobody -- quillmere-monitor --settings "$settings" hosts add --host 127.0.0.1 --protocol ECHO >/dev/null
cp /usr/bin/quillmere-monitor "$work/uncapped"
poll_once() {
  unshare --net sh -c '
    ip link set lo up
    [ "$(cat /proc/sys/net/ipv4/ping_group_range)" = "$(printf "1\t0")" ] || exit 99
    exec runuser -u nobody -- timeout 60 "$@"' sh "$1" --settings "$settings" --database "$work/nobody/results.db" --once
}
out=$(poll_once quillmere-monitor 2>&1) || fail "quillmere-monitor --once as nobody: exit $?: $out"
grep -q "$(printf '\tOK\tECHO//127.0.0.1:')" <<<"$out" || fail "no ECHO success: $out"
rc=0; poll_once "$work/uncapped" >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 1 ] || fail "the runner without the capability ended with $rc, not a failed poll (1)"

# verify passes a unit with settings it ignores: any complaint fails here.
unit=/usr/lib/systemd/system/quillmere-monitor.service
complaints=$(systemd-analyze verify "$unit" 2>&1) && [ -z "$complaints" ] || fail "systemd-analyze verify $unit: $complaints"
desktop-file-validate /usr/share/applications/quillmere.desktop
appstreamcli validate --no-net /usr/share/metainfo/io.quillmere.Quillmere.metainfo.xml >/dev/null \
  || fail "appstreamcli validate: $(appstreamcli validate --no-net /usr/share/metainfo/io.quillmere.Quillmere.metainfo.xml)"
grep -q "<release version=\"$version\"" /usr/share/metainfo/io.quillmere.Quillmere.metainfo.xml \
  || fail "the metainfo file has no release $version"
for page in quillmere quillmere-monitor; do
  file=/usr/share/man/man1/$page.1.gz
  # A machine whose dpkg leaves out manual pages: render the packaged one.
  [ -e "$file" ] || { dpkg-deb --fsys-tarfile "$deb" | tar -xO ".$file" >"$work/$page.1.gz"; file=$work/$page.1.gz; }
  MANWIDTH=80 man --warnings -E UTF-8 -l "$file" >"$work/$page.txt" 2>"$work/$page.err"
  [ ! -s "$work/$page.err" ] || fail "man -l $file: $(cat "$work/$page.err")"
  grep -q "^NAME" "$work/$page.txt" || fail "man -l $file rendered no NAME section"
done
for size in 16 22 24 32 48 64 128 256; do
  [ -s "/usr/share/icons/hicolor/${size}x${size}/apps/quillmere.png" ] || fail "no ${size}x${size} icon"
done
[ -s /usr/share/quillmere/help/Startup.html ] || fail "no help pages"

# Purged, the package leaves no file behind, and no folder of its own.
paths=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\.||; s|/$||' | grep -v '^$')
apt-get purge -y -qq quillmere >/dev/null
! dpkg-query -W -f='${Status}' quillmere 2>/dev/null | grep -q "install ok installed" || fail "still installed after purge"
while read -r path; do
  if [ -e "$path" ] && { [ ! -d "$path" ] || [[ "$path" == *quillmere* ]]; }; then
    fail "left after purge: $path"
  fi
done <<<"$paths"
for path in /etc/quillmere /var/lib/quillmere; do [ ! -e "$path" ] || fail "left after purge: $path"; done
echo "test-package: ok"
