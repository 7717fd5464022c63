#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the menu entry, the AppStream
# file, the manual pages, every icon size and the results page there.
# Usage: check_install.sh BUILD_DIR "SIZE;SIZE;..."
set -euo pipefail
build=$1
sizes=${2//;/ }
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share

desktop-file-validate "$share/applications/vantrel3.desktop" || fail "desktop entry"
metainfo=("$share"/metainfo/*.metainfo.xml)
[[ -f ${metainfo[0]} ]] || fail "no AppStream file"
appstreamcli validate --no-net "${metainfo[0]}" || fail "AppStream file"

[[ -n $sizes ]] || fail "no icon sizes given"
for size in $sizes; do
  png=$share/icons/hicolor/${size}x${size}/apps/vantrel3.png
  [[ -f $png ]] || fail "no ${size}px icon"
  # Width and height are the big-endian words at bytes 16 and 20 of a PNG.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4, $7*256+$8}')
  [[ $w == "$size" && $h == "$size" ]] || fail "$png is ${w}x${h}"
done
[[ -f $share/icons/hicolor/scalable/apps/vantrel3.svg ]] || fail "no SVG icon"

# The service's paths follow the prefix given at install time.
grep -qx "ExecStart=$prefix/bin/vantrel3-results-host .*" "$prefix/lib/systemd/system/vantrel3-results-host.service" ||
  fail "the unit does not start $prefix/bin/vantrel3-results-host"
[[ -f $prefix/etc/vantrel3/results-host.conf ]] || fail "no settings file for the results host"

for page in vantrel3 vantrel3-bench vantrel3-results-host; do
  warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "$page.1: $warnings"
done
# The results page, and every file it names (stylesheet, icon, modules, the worker) beside it.
web=$share/vantrel3-results-host/web
[[ -f $web/index.html ]] || fail "no results page"
named=$(grep -ohE "(href|src)=\"[^\"]+\"|from '[^']+'|URL\('[^']+'" "$web"/*.html "$web"/*.js |
  grep -oE "[A-Za-z0-9_.-]+\.(js|css|svg)" | sort -u)
[[ $named == *app.js* && $named == *worker.js* ]] || fail "the page names no modules: $named"
for name in $named; do
  [[ -f $web/$name ]] || fail "the results page needs $name, which is not installed"
done
for program in vantrel3 vantrel3-bench vantrel3-results-host; do
  [[ -x $prefix/bin/$program ]] || fail "no $program"
done
# The host's launcher finds its package where the install put it.
out=$("$prefix/bin/vantrel3-results-host" --versions --root "$prefix/host-data") || fail "vantrel3-results-host --versions"
[[ $out == *"now 0 bytes in"* ]] || fail "vantrel3-results-host --versions printed '$out'"
[[ -z $(find "$prefix" -name __pycache__) ]] || fail "running the host left compiled files in the install"
echo "installed copy checked"
