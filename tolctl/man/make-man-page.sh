#!/usr/bin/env bash
# Writes tolctl's man page from the program's own help, so that the two never disagree:
# help2man makes the page from `tolctl --help` and `--version`, and a SUBCOMMANDS section, made
# here from `tolctl SUBCOMMAND --help` of every subcommand that --help lists (and of theirs), is
# included into it. Usage: make-man-page.sh HELP2MAN TOLCTL OUT.1  (writes OUT.1 and OUT.1.gz)
set -euo pipefail
help2man=$1
tolctl=$2
out=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The subcommands listed in the "Subcommands:" section of a help text.
subcommands() {
    awk '/^Subcommands:$/ { on = 1; next } on && /^$/ { exit } on && /^  [^ ]/ { print $1 }'
}

# The closing notes of tolctl --help (its last paragraph): every subcommand's help repeats them.
"$tolctl" --help | awk -v RS= 'END { print }' >"$work/footer"

# One subcommand's help as roff: its description, usage, each section's entries as tagged
# paragraphs, and its own closing notes. The lines of the top level's notes are left out: the
# page has them once.
roff_of_help() {
    awk -v footer="$work/footer" '
    BEGIN { while ((getline l < footer) > 0) shared[l] = 1 }
    function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); return s }
    function line(s) { if (s ~ /^[.\047]/) s = "\\&" s; print s }
    NR == 1 { line(esc($0)); next }
    /^Usage: / { print ".PP"; line(esc($0)); next }
    /^[A-Z][A-Za-z ]*:$/ { heading = $0; section = 1; next }
    /^$/ { section = 0; skip = 0; next }
    section && /^  [^ ]/ {
        entry = substr($0, 3)
        cut = index(entry, "   ")
        name = cut ? substr(entry, 1, cut - 1) : entry
        rest = cut ? substr(entry, cut) : ""
        sub(/^ +/, "", rest)
        skip = (name == "-h,--help" || name == "--help-all")  # the same for all: on the page once
        if (skip) next
        if (heading != "") { print ".PP"; print "\\fI" esc(heading) "\\fR"; heading = "" }
        print ".TP"
        word = name; args = ""
        if (index(name, " ")) { word = substr(name, 1, index(name, " ") - 1); args = substr(name, index(name, " ")) }
        line("\\fB" esc(word) "\\fR" esc(args))
        if (rest != "") line(esc(rest))
        next
    }
    section && /^   / { if (skip) next; s = $0; sub(/^ +/, "", s); line(esc(s)); next }
    !section && /^[^ ]/ { if (!($0 in shared)) { print ".PP"; line(esc($0)) } next }
    '
}

{
    echo "[SUBCOMMANDS]"
    echo "Each subcommand takes its own options after its name:"
    echo ".B tolctl"
    echo "[OPTIONS] SUBCOMMAND [ITS OPTIONS]."
    "$tolctl" --help | subcommands | while read -r sub; do
        echo ".SS $sub"
        "$tolctl" "$sub" --help | roff_of_help
        "$tolctl" "$sub" --help | subcommands | while read -r inner; do
            echo ".SS \"$sub $inner\""
            "$tolctl" "$sub" "$inner" --help | roff_of_help
        done
    done
} >"$work/subcommands.h2m"

"$help2man" --no-info --no-discard-stderr \
    --name "build, send and decode thermal receipt printer setting commands" \
    --include "$work/subcommands.h2m" --output "$out.tmp" "$tolctl"
gzip -9 -n -c "$out.tmp" >"$out.gz.tmp"
mv "$out.gz.tmp" "$out.gz"
mv "$out.tmp" "$out"
