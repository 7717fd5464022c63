#!/usr/bin/env bash
# Builds both Debian packages, unpacks them into a temporary folder (no install on
# this machine), runs the programs from there and lets lintian look at them.
# Usage: check_packages.sh SOURCE_DIR PACKAGE_BUILD_DIR VERSION
set -euo pipefail
source=$1
build=$2
version=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$source/scripts/package" --out "$tmp/dist" --build-dir "$build" >/dev/null
program=$tmp/dist/vantrel3_${version}_amd64.deb
host=$tmp/dist/vantrel3-results-host_${version}_all.deb
[[ -f $program && -f $host ]] || fail "packages missing: $(ls "$tmp/dist")"

dpkg-deb -x "$program" "$tmp/root"
dpkg-deb -x "$host" "$tmp/root"
out=$("$tmp/root/usr/bin/vantrel3-bench" --version) || fail "vantrel3-bench --version"
[[ $out == *"$version"* ]] || fail "vantrel3-bench --version printed '$out'"
out=$(/usr/bin/python3 "$tmp/root/usr/bin/vantrel3-results-host" --help) || fail "vantrel3-results-host --help"
[[ $out == *--root* ]] || fail "vantrel3-results-host --help printed '$out'"

[[ -f $tmp/root/usr/share/vantrel3-results-host/web/index.html ]] || fail "no results page in the host package"

# The service is shipped, its settings are a conffile, and nothing enables it.
[[ -f $tmp/root/usr/lib/systemd/system/vantrel3-results-host.service ]] || fail "no systemd unit"
dpkg-deb --ctrl-tarfile "$host" | tar -x -C "$tmp" ./conffiles
grep -qx /etc/default/vantrel3-results-host "$tmp/conffiles" || fail "settings not a conffile"
# Listed first: grep -q leaving early would break the pipe, and pipefail would count that.
control=$(dpkg-deb --ctrl-tarfile "$host" | tar -t)
for script in postinst prerm postrm; do
  grep -qx "./$script" <<<"$control" || fail "the host package has no $script"
done
[[ $(dpkg-deb -f "$program" Suggests) == *vantrel3-results-host* ]] || fail "vantrel3 does not suggest the host"

lintian --fail-on error "$program" "$host" || fail "lintian"

# Installed, removed, then purged in one command, as an administrator would: the service's
# enable link and data stay until the purge and nothing is left after it. Only as root, and
# never over packages already installed here. Two test runs on one machine take turns here,
# and apt waits for anyone else using dpkg rather than failing.
if [[ $(id -u) == 0 ]]; then
  exec 9>/run/lock/vantrel3-package-check.lock
  flock 9
fi
apt-get() { command apt-get -o DPkg::Lock::Timeout=600 "$@"; }
if [[ $(id -u) == 0 ]] && ! dpkg -s vantrel3 >/dev/null 2>&1 && ! dpkg -s vantrel3-results-host >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends "$program" "$host" >/dev/null 2>&1 || fail "apt-get install"
  # What "systemctl enable" leaves, made by hand: systemd need not run here.
  mkdir -p /etc/systemd/system/multi-user.target.wants
  ln -sf /lib/systemd/system/vantrel3-results-host.service /etc/systemd/system/multi-user.target.wants/
  mkdir -p /var/lib/vantrel3-results-host/results && echo kept >/var/lib/vantrel3-results-host/results/compare.zip
  apt-get remove -y -qq vantrel3 vantrel3-results-host >/dev/null 2>&1 || fail "apt-get remove"
  [[ -f /var/lib/vantrel3-results-host/results/compare.zip ]] || fail "remove took the host's data"
  apt-get purge -y -qq vantrel3 vantrel3-results-host >/dev/null 2>&1 || fail "apt-get purge of both after a remove"
  for left in /etc/vantrel3 /etc/default/vantrel3-results-host /var/lib/vantrel3-results-host \
      /etc/systemd/system/multi-user.target.wants/vantrel3-results-host.service /usr/bin/vantrel3; do
    [[ ! -e $left && ! -L $left ]] || fail "$left left after purge"
  done
  if dpkg -s vantrel3 >/dev/null 2>&1 || dpkg -s vantrel3-results-host >/dev/null 2>&1; then fail "still known to dpkg"; fi
fi
echo "packages checked"
