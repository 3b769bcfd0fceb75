# Bash completion for tolctl. Everything is read from tolctl's own --help when completing: the
# subcommands, their options, and what an option takes by the type name its help shows (FILE,
# REPORT: a file; DIR: a folder; a|b|c: one of those words), so that it is always that of the
# tolctl installed.

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

# The type name that the help of "$@" shows after option $option (one blank after its names; a
# flag has none), or, for "positional", that of the first positional argument.
_tolctl_type_name() {
    local option=$1
    shift
    "$@" --help 2>/dev/null | awk -v option="$option" '
        /^[A-Z][A-Za-z ]*:$/ { section = $0; next }
        /^$/ { section = ""; next }
        option == "positional" && section == "Positionals:" && /^  [^ ]/ { print $1; exit }
        option != "positional" && section == "Options:" && /^  -[^ ]* [^ ]/ {
            n = split($1, names, ",")
            for (i = 1; i <= n; i++) if (names[i] == option) { print $2; exit }
        }'
}

# Completes $cur as a value of type $1; false when the type says nothing of its values.
_tolctl_complete_type() {
    case $1 in
    FILE | REPORT)
        COMPREPLY=($(compgen -f -- "$cur"))
        ;;
    DIR)
        COMPREPLY=($(compgen -d -- "$cur"))
        ;;
    *'|'*)
        COMPREPLY=($(compgen -W "${1//|/ }" -- "$cur"))
        # A word that a value goes on from (socket://, serial:) takes no blank after it.
        if [[ $1 == *[:/]'|'* || $1 == *[:/] ]]; then
            compopt -o nospace 2>/dev/null || :
        fi
        ;;
    *)
        return 1
        ;;
    esac
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

    # The value of an option: its type name in the help of the subcommand, else of those above it
    # (tolctl's own options may follow a subcommand).
    if [[ $prev == -* ]]; then
        local type=
        for ((i = ${#command[@]}; i > 0 && ${#type} == 0; i--)); do
            type=$(_tolctl_type_name "$prev" "${command[@]:0:i}")
        done
        if [ -n "$type" ]; then
            _tolctl_complete_type "$type" || COMPREPLY=()
            return
        fi
    fi

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_tolctl_help_words options "${command[@]}")" -- "$cur"))
    elif [ -n "$subs" ]; then
        COMPREPLY=($(compgen -W "$subs" -- "$cur"))
    elif ! _tolctl_complete_type "$(_tolctl_type_name positional "${command[@]}")"; then
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _tolctl tolctl
