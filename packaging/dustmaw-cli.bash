# bash completion for dustmaw-cli. The commands, their options and their
# operations are read from the program's own help, so they never go stale.
_dustmaw_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} cli=${COMP_WORDS[0]} help words
    if ((COMP_CWORD == 1)); then
        words="$("$cli" --help 2>/dev/null | awk '/^  [a-z]/ {print $1}') --help --version"
        mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
        return
    fi
    help=$("$cli" "${COMP_WORDS[1]}" --help 2>/dev/null) || return
    if [[ $cur == -* ]]; then
        words="$( (grep -o -- '--[a-z-]*' <<<"$help"; echo --help) | sort -u)"
        mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
        return
    fi
    if ((COMP_CWORD == 2)); then
        # Operations: "a|b|c" in the usage line, or a list of "  name ..." lines.
        words=$( (head -n1 <<<"$help" | grep -o '[a-z]*|[a-z|]*' | tr '|' '\n'
            awk '/^  [a-z]/ {print $1}' <<<"$help") | sort -u)
        if [[ -n ${words//[[:space:]]/} ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
            return
        fi
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _dustmaw_cli dustmaw-cli
