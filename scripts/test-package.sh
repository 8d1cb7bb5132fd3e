#!/usr/bin/env bash
# Installs the Debian package on this machine as a user would, checks what
# it put where and that the installed recorder records, then purges it and
# checks that nothing of it is left. Needs root (the test command runs as
# root); says so and passes over the test otherwise.
# Usage: scripts/test-package.sh PACKAGE.deb
set -euo pipefail

deb="$(realpath "$1")"
if [ "$(id -u)" -ne 0 ]; then
  echo "package test: not root, so the package is not installed here; passed over"
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
fail() { echo "package test: $*" >&2; exit 1; }

files=(
  /usr/bin/skarv-client
  /usr/bin/skarv-record
  /usr/lib/udev/rules.d/70-skarv-sensor.rules
  /lib/systemd/system/skarv-record@.service
  /usr/lib/sysusers.d/skarv.conf
  /etc/skarv/example.conf
  /usr/share/applications/skarv-client.desktop
  /usr/share/icons/hicolor/scalable/apps/skarv-client.svg
  /usr/share/man/man1/skarv-client.1.gz
  /usr/share/man/man1/skarv-record.1.gz
  /usr/share/doc/skarv/copyright
  /usr/share/doc/skarv/changelog.gz
  /usr/share/doc/skarv/README.md.gz
)

# As `apt install ./skarv_....deb` would: dpkg, then what it depends on.
dpkg -i "$deb" || apt-get -f install -y -q
dpkg-query -W -f='${Status}\n' skarv | grep -q "install ok installed" || fail "the package is not installed"
for file in "${files[@]}"; do
  [ -e "$file" ] || fail "$file is missing"
done

version="$(dpkg-deb -f "$deb" Version)"
/usr/bin/skarv-record --version | grep -q "^skarv-record $version" || fail "skarv-record --version: $(/usr/bin/skarv-record --version)"
/usr/bin/skarv-client --version | grep -q "^skarv-client $version" || fail "skarv-client --version"
id -nG skarv | tr ' ' '\n' | grep -qx plugdev || fail "the user skarv is not in plugdev"
grep -q 'TAG+="uaccess"' /usr/lib/udev/rules.d/70-skarv-sensor.rules || fail "the rule gives no seat access"
grep -q 'GROUP="plugdev"' /usr/lib/udev/rules.d/70-skarv-sensor.rules || fail "the rule gives plugdev no access"
desktop-file-validate /usr/share/applications/skarv-client.desktop || fail "the desktop entry"
for page in skarv-client skarv-record; do
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "$page(1): $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q -- "--version" ||
    fail "$page(1) does not list --version"
done
# The unit with an instance, as systemd would load it.
verify="$(mktemp -d)"
cp /etc/skarv/example.conf /etc/skarv/package-test.conf
SYSTEMD_LOG_LEVEL=err systemd-analyze verify --man=no /lib/systemd/system/skarv-record@.service \
  "skarv-record@package-test.service" > "$verify/out" 2>&1 || { cat "$verify/out"; fail "systemd-analyze verify"; }
[ ! -s "$verify/out" ] || { cat "$verify/out"; fail "systemd-analyze verify has remarks"; }
rm -f /etc/skarv/package-test.conf
rm -rf "$verify"

# The installed recorder records, into a folder of its own.
work="$(mktemp -d)"
(cd "$work" && /usr/bin/skarv-record --simulate --duration 2 --quiet --format csv,mcap > out.txt 2> err.txt) ||
  { cat "$work/err.txt"; fail "the installed skarv-record failed"; }
lines="$(wc -l < "$work/SkarvData-1.csv")"
[ "$lines" -gt 1000 ] || fail "the recording holds $lines lines"
head -1 "$work/SkarvData-1.csv" | grep -q '^Count,' || fail "the recording has no header"
[ -s "$work/SkarvData-1.mcap" ] || fail "no MCAP file"

dpkg --purge skarv
for file in "${files[@]}"; do
  [ ! -e "$file" ] || fail "$file is left after the purge"
done
[ ! -e /etc/skarv ] || fail "/etc/skarv is left after the purge"
! dpkg-query -W skarv > /dev/null 2>&1 || dpkg-query -W -f='${Status}\n' skarv | grep -q "not-installed" ||
  fail "the package is still known to dpkg"
[ -s "$work/SkarvData-1.csv" ] || fail "the purge took the recording"
rm -rf "$work"
echo "package test: installed, recorded $((lines - 1)) records with the installed recorder, purged; nothing left"
