#!/usr/bin/env bash
# The bash completion (tolctl/completion/tolctl.bash) with the tolctl of the build: what an option
# takes comes from its type name in tolctl's help (files, folders, the words of its choices), for
# the options of subcommands and tolctl's own ones after a subcommand; a positional argument's
# choices too. Usage: completion.sh TOLCTL
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/lib.sh"
tol_begin tol-completion "$1"
completion="$(dirname "${BASH_SOURCE[0]}")/../../tolctl/completion/tolctl.bash"
mkdir "$work/folder"
touch "$work/file"

# What completing the last word of "tolctl WORDS..." offers, sorted, on one line.
completes() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tolctl
             [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' \
        _ "$completion" "$tolctl" "$@"
}
expect() {
    local want=$1
    shift
    local got
    got=$(completes "$@")
    [ "$got" = "$want" ] || fail "completing 'tolctl $*' gave '$got', not '$want'"
}

expect "wifi-station " wifi-s
expect "ap apsta " wifi-ap --mode a
expect "wpa2psk wpapsk " wifi-station --auth wp
expect "off on " lan-dhcp o
expect "19200 " --baud 19
expect "serial: socket:// " cut --port s
expect "$work/file " listen --conditions-file "$work/fi"
expect "$work/file " apply p.json --resume "$work/fi"
expect "$work/file " apply p.json --retry-failed "$work/fi"
expect "$work/file " wifi-station --password-file "$work/fi"
expect "$work/folder " console --state-dir "$work/"
expect "" wifi-ap --name ""
expect "" listen --port ""
expect "--password --password-file " wifi-station --pass
expect "diff " record di
expect "--skip-same " apply p.json --skip
echo "ok: completion"
