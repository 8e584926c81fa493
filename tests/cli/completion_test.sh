#!/usr/bin/env bash
# The bash completion of sheetmerge: commands, each command's options, and as arguments only
# the workbooks sheetmerge reads and folders (a folder only after -o).
#   completion_test.sh packaging/sheetmerge.bash-completion
set -u
completion=$1
library=/usr/share/bash-completion/bash_completion
if [ ! -r "$library" ]; then
    echo "FAIL: $library is missing (Debian package bash-completion)" >&2
    exit 1
fi
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/sub"
touch "$folder/a.xlsx" "$folder/b.csv" "$folder/c.txt" "$folder/D.XLS" "$folder/e.xlsm" \
    "$folder/j.json"

# Prints the completions of a command line whose last word is being completed, sorted.
complete_line() {
    bash -c '
        source "$1"
        source "$2"
        shift 2
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        _sheetmerge sheetmerge "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        if ((${#COMPREPLY[@]})); then printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "; fi
    ' complete "$library" "$completion" "$@"
}

failures=0
expect() {
    local expected=$1
    shift
    local got
    got=$(complete_line "$@")
    if [ "$got" != "$expected" ]; then
        echo "FAIL: '$*' completes to '$got', expected '$expected'" >&2
        failures=$((failures + 1))
    fi
}

expect "merge " sheetmerge me
expect "--help --version " sheetmerge --
expect "--start-row --stop-at " sheetmerge merge --st
expect "--mark-cells --mark-name --mark-path --mark-sheet " sheetmerge merge --mark
expect "--sheet-index --sheet-name --sheet-pattern " sheetmerge merge --sheet-
expect "" sheetmerge merge --sheet-pattern ""
expect "--skip-blank-rows --skip-hidden --skip-last " sheetmerge merge --skip
expect "--sheet-index --sheet-name " sheetmerge cat x.xlsx --sheet-
expect "--password --password-file " sheetmerge merge --pass
expect "--password --password-file " sheetmerge inspect x.xls --pass
expect "" sheetmerge cat x.xls --password ""
expect "$folder/D.XLS $folder/a.xlsx $folder/b.csv $folder/c.txt $folder/e.xlsm $folder/j.json $folder/sub " \
    sheetmerge merge --password-file "$folder/"
expect "" sheetmerge merge --start-row ""
expect "" sheetmerge merge --stop-at ""
expect "$folder/j.json $folder/sub " sheetmerge merge --report "$folder/"
expect "$folder/D.XLS $folder/a.xlsx $folder/b.csv $folder/e.xlsm $folder/sub " \
    sheetmerge merge "$folder/"
expect "$folder/D.XLS $folder/a.xlsx $folder/b.csv $folder/e.xlsm $folder/sub " \
    sheetmerge inspect "$folder/"
expect "$folder/sub " sheetmerge merge -o "$folder/"
expect "csv " sheetmerge merge --format c
expect "--save-job " sheetmerge merge --sa
expect "$folder/j.json $folder/sub " sheetmerge merge --job "$folder/"

if [ "$failures" -gt 0 ]; then
    echo "$failures completion check(s) failed" >&2
    exit 1
fi
echo "all completion checks passed"
