#!/bin/sh
# Fails unless the optimised run loop still calls pow, evaluates square roots, and allocates
# and releases test 3's array: proof that the compiler folded none of them away.
set -eu
binary=$1
objdump=${OBJDUMP:-objdump}

listing=$("$objdump" -d -C --no-show-raw-insn "$binary" | awk '
    /^[0-9a-f]+ <.*>:$/ { inside = ($0 ~ /RunBenchmark/) }
    inside')

if [ -z "$listing" ]; then
    echo "no RunBenchmark code found in $binary" >&2
    exit 1
fi

count() {
    printf '%s\n' "$listing" | grep -Ec "$1" || true
}

# Calls look like "call 1040 <pow@plt>" or "call ... <pow>"; sqrt may also be the inline instruction.
pow_calls=$(count 'call.*<(__)?pow(@plt|@GLIBC[^>]*)?>')
sqrt_uses=$(count 'call.*<(__)?sqrt(@plt|@GLIBC[^>]*)?>|sqrtsd')
new_calls=$(count 'call.*<operator new\[\]|call.*<(_Znam|malloc|calloc)(@plt)?>')
delete_calls=$(count 'call.*<operator delete\[\]|call.*<(_ZdaPv|free)(@plt)?>')

echo "pow calls: $pow_calls, square roots: $sqrt_uses, allocations: $new_calls, releases: $delete_calls"
status=0
# Test 5 calls power once a step and test 6 twice; test 6 takes two square roots.
[ "$pow_calls" -ge 3 ] || { echo "pow calls missing" >&2; status=1; }
[ "$sqrt_uses" -ge 2 ] || { echo "square roots missing" >&2; status=1; }
[ "$new_calls" -ge 1 ] || { echo "array allocation missing" >&2; status=1; }
[ "$delete_calls" -ge 1 ] || { echo "array release missing" >&2; status=1; }
exit $status
