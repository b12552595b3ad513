#!/usr/bin/env bash
# `cmake --install` into a scratch DESTDIR with the packages' prefix: every
# file in its place, and the installed launcher runs the installed tool.
set -uo pipefail
build=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/quarlen-install-XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR=$root cmake --install "$build" --prefix /usr >"$root.log" 2>&1 ||
    { cat "$root.log"; rm -f "$root.log"; echo "FAIL: install"; exit 1; }
rm -f "$root.log"

for file in usr/sbin/quarlencli usr/share/man/man8/quarlencli.8 \
    usr/share/bash-completion/completions/quarlencli usr/bin/quarlen-emu \
    usr/lib/quarlen-emu/libquarlen-emu.so usr/share/man/man1/quarlen-emu.1 \
    usr/share/quarlen-emu/default-scsi.json usr/share/quarlen-emu/default-controllers.json; do
    [[ -f $root/$file ]] || fail "missing $file"
done
[[ -x $root/usr/sbin/quarlencli ]] || fail "quarlencli is not executable"

# The launcher finds its library in the installed layout.
out=$("$root/usr/bin/quarlen-emu" --state "$root/state" -- "$root/usr/sbin/quarlencli" --list 2>&1)
grep -q '^  1) ' <<<"$out" || fail "installed quarlen-emu -- quarlencli --list: $out"

[[ $failures -eq 0 ]] && echo "install tree: all checks pass"
exit $((failures != 0))
