#!/usr/bin/env bash
# The bash completion against the emulated default machine: options, the
# commands of target 3 and their options, file names after --batch, and no
# run of the program while no target index is known.
set -uo pipefail
completion=$1
cli=$2
emu=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/quarlen-completion-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# "quarlencli" on PATH is the tool under the emulator; each run is counted.
mkdir "$work/bin"
cat >"$work/bin/quarlencli" <<WRAP
#!/bin/sh
echo run >>"$work/runs"
exec "$emu" --state "$work/state" -- "$cli" "\$@"
WRAP
chmod +x "$work/bin/quarlencli"
touch "$work/checks.txt"

complete_words() { # the words of the line; the last is the one completed
    PATH="$work/bin:$PATH" bash -c '
        source "$0"
        COMP_WORDS=("${@}"); COMP_CWORD=$(( $# - 1 ))
        COMP_LINE="${*}"; COMP_POINT=${#COMP_LINE}
        _quarlencli
        [[ ${#COMPREPLY[@]} -eq 0 ]] || printf "%s\n" "${COMPREPLY[@]}"' "$completion" "$@" | sort | tr '\n' ' '
}
expect() { # expected (sorted, space-separated), words...
    local expected=$1
    shift
    local got
    got=$(complete_words "$@")
    [[ $got == "$expected" ]] || fail "'$*': got '$got', expected '$expected'"
}

expect "--batch " quarlencli --b
expect "--help " quarlencli --h
expect "--interactive " quarlencli --i
expect "-V " quarlencli -V
expect "$work/checks.txt " quarlencli -i 3 --batch "$work/chec"
expect "" quarlencli -i ""
[[ ! -e $work/runs ]] || fail "the program ran without a target index"

expect "show " quarlencli -i 3 sh
expect "help list quit show " quarlencli -i 3 ""
expect "-all -mfg -rev -temp " quarlencli -i 3 show -
expect "-rev " quarlencli -i 3 show -r

[[ $failures -eq 0 ]] && echo "completion: all checks pass"
exit $((failures != 0))
