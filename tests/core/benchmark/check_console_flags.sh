#!/bin/sh
# Every command answers --help and --version on stdout with exit code 0, and refuses an
# unknown flag with one line naming it and a hint on stderr, exit code 2. No display is
# offered, so the window program must answer before it touches the window system.
# Usage: check_console_flags.sh VERSION COMMAND...   (each COMMAND one word list in one argument)
version=$1
shift
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
failures=0

fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}

for command in "$@"; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM sh -c "$command --help" >"$out" 2>"$err"
    status=$?
    [ $status -eq 0 ] && [ -s "$out" ] && [ ! -s "$err" ] || fail "$command --help: exit $status, stderr: $(cat "$err")"

    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM sh -c "$command --version" >"$out" 2>"$err"
    status=$?
    [ $status -eq 0 ] && [ "$(wc -l <"$out")" -eq 1 ] && grep -q " $version\$" "$out" && [ ! -s "$err" ] \
        || fail "$command --version: exit $status, stdout: $(cat "$out")"

    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM sh -c "$command --no-such-flag" >"$out" 2>"$err"
    status=$?
    [ $status -eq 2 ] && [ ! -s "$out" ] && [ "$(wc -l <"$err")" -eq 2 ] \
        && head -n 1 "$err" | grep -q -- "no-such-flag" && tail -n 1 "$err" | grep -q -- "--help" \
        || fail "$command --no-such-flag: exit $status, stderr: $(cat "$err")"
done
[ $failures -eq 0 ] && echo "all $# commands follow the console conventions"
exit $failures
