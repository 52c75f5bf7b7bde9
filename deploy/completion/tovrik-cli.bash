# bash completion for tovrik-cli                          -*- shell-script -*-
#
# Loaded by bash-completion, whose helpers it uses. The options, the send
# modes, the --devices words and the subcommands are read from the program's
# own --help at each completion, so they follow the program's list.

# The help of the command being completed ($1 as typed), or of its
# subcommand $2.
_tovrik_cli_help()
{
    "$1" ${2:+"$2"} --help 2>/dev/null
}

# The option names of a help text: "  -t,--target TEXT ..." gives -t and
# --target.
_tovrik_cli_options()
{
    sed -n 's/^  \(-[^ ]*\).*/\1/p' <<<"$1" | tr ',' '\n'
}

# Whether option $2 takes a value in help text $1: its help line names one
# (a type, a default) after the option's names.
_tovrik_cli_takes_value()
{
    local line
    line=$(grep -E -- "^  ([^ ]*,)?$2([, ]|\$)" <<<"$1" | head -n 1)
    line=${line#  }
    line=${line#* }
    [[ -n $line && $line != Excludes:* && $line != Needs:* && $line != " "* ]]
}

_tovrik_cli()
{
    local cur prev words cword
    _init_completion -s || return

    local program=${words[0]} help subcommand="" i
    help=$(_tovrik_cli_help "$program")
    [[ -n $help ]] || return
    # The first word that is neither an option nor an option's value.
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} != -* ]] && ! _tovrik_cli_takes_value "$help" "${words[i - 1]}"; then
            subcommand=${words[i]}
            help=$(_tovrik_cli_help "$program" "$subcommand")
            break
        fi
    done

    case $prev in
        -m | --mode)
            # "Send mode: 0-6 or 1s, 10s, ...": the numbers, then the names.
            local modes first last names
            modes=$(sed -n 's/^  -m,--mode .*: \([0-9]\)-\([0-9]\) or \(.*\)$/\1 \2 \3/p' <<<"$help" | tr -d ',')
            if [[ -n $modes ]]; then
                read -r first last names <<<"$modes"
                mapfile -t COMPREPLY < <(compgen -W "$(seq -s ' ' "$first" "$last") $names" -- "$cur")
            fi
            return
            ;;
        --devices)
            mapfile -t COMPREPLY < <(compgen -W "$(grep -E -- '^  --devices ' <<<"$help" | grep -oE 'by-[a-z]+' | sort -u)" -- "$cur")
            return
            ;;
        --import | --text-file | --stats-json | --report | --scenario | --baseline | -o | --output)
            _filedir
            return
            ;;
    esac
    if [[ $prev == -* ]] && _tovrik_cli_takes_value "$help" "$prev"; then
        # A value that cannot be completed (an address, a number, a rule).
        return
    fi

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_tovrik_cli_options "$help")" -- "$cur")
    elif [[ -n $subcommand ]]; then
        _filedir
    else
        # "tovrik-cli NAME ..." in the help's text names a subcommand.
        mapfile -t COMPREPLY < <(compgen -W "$(grep -oE "tovrik-cli [a-z]+ " <<<"$help" | cut -d' ' -f2 | sort -u)" -- "$cur")
    fi
} &&
    complete -F _tovrik_cli tovrik-cli
