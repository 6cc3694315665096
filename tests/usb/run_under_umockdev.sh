#!/bin/sh
# Runs a program under umockdev's preload with a private temporary folder, so the emulated
# /sys and /dev of every test bed (umockdev.XXXXXX) go away with the run, also when it crashed.
# AddressSanitizer must not insist on being first in the preload list.
set -u
for stale in $(find "${TMPDIR:-/tmp}" -maxdepth 1 -name 'caddora-umockdev.*' -mmin +60 2>/dev/null); do
    rm -rf "$stale"
done
dir=$(mktemp -d "${TMPDIR:-/tmp}/caddora-umockdev.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT INT TERM
export TMPDIR="$dir"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
LD_PRELOAD="libumockdev-preload.so.0${LD_PRELOAD:+:$LD_PRELOAD}" "$@"
