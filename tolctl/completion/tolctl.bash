# Bash completion for tolctl. The subcommands and their options are read from tolctl's own
# --help when completing, so that they are always those of the tolctl installed.

# The words of a help text's "Subcommands:" section, or its options (--x and -x names).
_tolctl_help_words() {
    local what=$1
    shift
    "$@" --help 2>/dev/null | awk -v what="$what" '
        /^[A-Z][A-Za-z ]*:$/ { section = $0; next }
        /^$/ { section = ""; next }
        what == "subcommands" && section == "Subcommands:" && /^  [^ ]/ { print $1 }
        what == "options" && section == "Options:" && /^  -/ {
            n = split($1, names, ",")
            for (i = 1; i <= n; i++) print names[i]
        }'
}

_tolctl() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    local -a command=("$program")

    # The subcommands named so far (a subcommand may have its own, e.g. "a b").
    local i word subs
    subs=$(_tolctl_help_words subcommands "${command[@]}")
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ " $(echo $subs) " == *" $word "* ]]; then
            command+=("$word")
            subs=$(_tolctl_help_words subcommands "${command[@]}")
        fi
    done

    case $prev in
    --port)
        COMPREPLY=($(compgen -W "socket:// serial: parallel: usb:" -- "$cur"))
        compopt -o nospace 2>/dev/null
        return
        ;;
    --save | --password-file | --state | --report | --targets | --profile)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    --state-dir)
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_tolctl_help_words options "${command[@]}")" -- "$cur"))
    elif [ -n "$subs" ]; then
        COMPREPLY=($(compgen -W "$subs" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _tolctl tolctl
