#!/usr/bin/env bash
# Completes a few command lines with the completion script and the real
# program, and checks what is offered.
set -uo pipefail
completion=$1
PATH="$(dirname "$2"):$PATH"
source "$completion"
cd "$(mktemp -d)" && touch report.log readme.txt
failed=0
while IFS='|' read -r line want; do
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _dustmaw_cli
    mapfile -t sorted < <(printf '%s\n' "${COMPREPLY[@]}" | sort)
    got="${sorted[*]}"
    if [[ $got != "$want" ]]; then
        echo "'$line': offered '$got', expected '$want'"
        failed=1
    fi
done <<'CASES'
dustmaw-cli f|fight file
dustmaw-cli --v|--version
dustmaw-cli fight --s|--seed --style
dustmaw-cli restore --|--dry-run --help --to
dustmaw-cli file m|move
dustmaw-cli file move re|readme.txt report.log
dustmaw-cli autostart o|off on
dustmaw-cli autostart |off on status
dustmaw-cli inspect rep|report.log
CASES
exit $failed
