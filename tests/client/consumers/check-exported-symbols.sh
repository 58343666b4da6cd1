#!/bin/sh
# Fails when the shared library's dynamic symbol table holds anything but the C interface
# (quorvane_*) and the quorvane namespace, or lacks a documented C function.
library="$1"
symbols=$(nm -D --defined-only "$library" | awk '{print $3}') || exit 1
stray=$(printf '%s\n' "$symbols" | grep -Ev '^(quorvane_[a-z_]+|_ZN(K)?8quorvane.*)$')
if [ -n "$stray" ]; then
    echo "symbols outside the documented API:"
    printf '%s\n' "$stray" | c++filt
    exit 1
fi
for name in quorvane_trace quorvane_enter quorvane_leave quorvane_set_origin quorvane_enabled \
    quorvane_disabled_reason quorvane_posted_count quorvane_dropped_count; do
    printf '%s\n' "$symbols" | grep -qx "$name" || { echo "missing: $name"; exit 1; }
done
echo "$(printf '%s\n' "$symbols" | wc -l) exported symbols, all documented"
