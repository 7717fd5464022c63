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
if dpkg-deb --ctrl-tarfile "$host" | tar -t | grep -q postinst; then fail "the host package has a postinst"; fi

lintian --fail-on error "$program" "$host" || fail "lintian"
echo "packages checked"
