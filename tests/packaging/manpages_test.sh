#!/usr/bin/env bash
# The manual pages render without a groff warning, and quarlencli.8 documents
# every command of both command tables (read here, at test time) in the
# section of its target kind; with the emulator, also every option word of
# each command's usage text.
set -uo pipefail
source_dir=$1
cli=$2
emu=${3:-none}
page=$source_dir/docs/quarlencli.8
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for doc in "$page" "$source_dir/docs/quarlen-emu.1"; do
    warnings=$(groff -man -ww -z "$doc" 2>&1)
    [[ -z $warnings ]] || fail "$doc: $warnings"
done
grep -q '^\.TH QUARLENCLI 8 ' "$page" || fail "quarlencli.8 is not in section 8"
grep -q '^\.TH QUARLEN-EMU 1 ' "$source_dir/docs/quarlen-emu.1" || fail "quarlen-emu.1: .TH"

# Names of the rows {"name", ...} of a command table.
table_commands() {
    sed -n 's/^[[:space:]]*{"\([^"]*\)",.*/\1/p' "$1"
}
# The body of one .SH section.
section() {
    awk -v title="$1" '/^\.SH / { inside = ($0 == ".SH " title); next } inside' "$page"
}
# An entry's tag line starts with the command name in bold.
documents() { # section text, command
    grep -qE "^(\\.B |\\\\fB)$2(\\\\fR| |\$)" <<<"$1"
}

declare -A kind_section=([hba]="HBA COMMANDS" [expander]="EXPANDER COMMANDS")
declare -A table_file=([hba]=$source_dir/src/hba/command_table.cpp
    [expander]=$source_dir/src/expander/command_table.cpp)
for kind in hba expander; do
    text=$(section "${kind_section[$kind]}")
    [[ -n $text ]] || fail "quarlencli.8 has no section ${kind_section[$kind]}"
    commands=$(table_commands "${table_file[$kind]}")
    for command in $commands; do
        documents "$text" "$command" || fail "quarlencli.8: $kind command '$command' is not under ${kind_section[$kind]}"
    done
done

if [[ $emu != none ]]; then
    state=$(mktemp -d "${TMPDIR:-/tmp}/quarlen-man-XXXXXX")
    trap 'rm -rf "$state"' EXIT
    run() { "$emu" --state "$state" -- "$cli" "$@" </dev/null 2>&1; }
    # Every target of the built-in topology: its kind is the table its
    # commands come from; every option word of a usage must be documented.
    indexes=$(run --list | sed -n 's/^ *\([0-9]\{1,\}\)) .*/\1/p')
    [[ -n $indexes ]] || fail "no target under the emulator"
    declare -A checked=()
    for index in $indexes; do
        listed=$(run -i "$index" help | sed -n 's/^\([a-z][a-z0-9_-]*\) \{1,\}- .*/\1/p')
        for kind in hba expander; do
            for command in $(table_commands "${table_file[$kind]}"); do
                grep -qx -- "$command" <<<"$listed" || continue
                [[ -z ${checked[$kind/$command]:-} ]] || continue
                checked[$kind/$command]=1
                text=$(section "${kind_section[$kind]}")
                options=$(run -i "$index" help "$command" |
                    grep -o -- '\(^\|[[:space:]]\)-[a-zA-Z][a-zA-Z0-9_-]*' | tr -d '[:blank:]' | sort -u)
                for option in $options; do
                    grep -qF -- "\\${option}" <<<"$text" ||
                        fail "quarlencli.8: option $option of $kind command '$command' is not documented"
                done
            done
        done
    done
fi

[[ $failures -eq 0 ]] && echo "manual pages: all checks pass"
exit $((failures != 0))
