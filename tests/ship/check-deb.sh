#!/usr/bin/env bash
# Checks tolctl's .deb: its name and control fields, that its Depends name the package of every
# shared library the binary needs, its files, and tolctl run from it, unpacked into a scratch
# root (dpkg -x) as dpkg would install it: --version, a --dry-run, the man page and the bash
# completion. Also `cmake --install` of the build tree into a scratch prefix.
# Usage: check-deb.sh BUILD_DIR PACKAGES_DIR VERSION
set -uo pipefail
build=$1
packages=$2
version=$3
arch=$(dpkg --print-architecture)
deb=$packages/tolctl_${version}_$arch.deb
status=0
fail() {
    echo "FAIL $*" >&2
    status=1
}
[ -f "$deb" ] || { echo "FAIL no $deb (found: $(ls "$packages"))" >&2; exit 1; }
root=$(mktemp -d /tmp/tol-deb.XXXXXX)
trap 'rm -rf "$root"' EXIT

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tolctl ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "Depends: $depends"

want="./usr/bin/tolctl ./usr/share/bash-completion/completions/tolctl ./usr/share/doc/tolctl/console.md ./usr/share/doc/tolctl/console.png
./usr/share/doc/tolctl/copyright ./usr/share/doc/tolctl/monitoring.md ./usr/share/doc/tolctl/profile.schema.json ./usr/share/doc/tolctl/profiles.md ./usr/share/doc/tolctl/protocol.md
./usr/share/doc/tolctl/record.md ./usr/share/doc/tolctl/tolctl.md
./usr/share/man/man1/tolctl.1.gz"
listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort | tr '\n' ' ' | sed 's/ $//')
[ "$listed" = "$(echo $want)" ] || fail "the files are '$listed', not '$(echo $want)'"

dpkg -x "$deb" "$root" || fail "dpkg -x"
tolctl=$root/usr/bin/tolctl

# Every library the binary needs comes from a package that Depends names.
for soname in $(objdump -p "$tolctl" | awk '$1 == "NEEDED" { print $2 }'); do
    path=$(ldconfig -p | awk -v s="$soname" '$1 == s && /x86-64|x86_64/ { print $NF; exit }')
    [ -n "$path" ] || path=$(ldconfig -p | awk -v s="$soname" '$1 == s { print $NF; exit }')
    owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$owner" ] || owner=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
    if [ -z "$owner" ]; then
        fail "$soname: no package owns $path"
    elif ! sed 's/, */\n/g; s/|/\n/g' <<<"$depends" | awk '{ print $1 }' | grep -qxF "$owner"; then
        fail "tolctl needs $soname from $owner, which Depends does not name"
    else
        echo "$soname: $owner"
    fi
done
readelf -S "$tolctl" | grep -q '\.symtab' && fail "tolctl carries a symbol table: the package ships it stripped"

got=$("$tolctl" --version)
[ "$got" = "tolctl $version" ] || fail "tolctl --version: '$got'"
got=$("$tolctl" --dry-run lan-ip 192.168.1.123)
[ "$got" = "1f 1b 1d 00 c0 a8 01 7b" ] || fail "tolctl --dry-run lan-ip: '$got'"

page=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/tolctl.1.gz" 2>/dev/null | col -b)
grep -q "tolctl $version" <<<"$page" || fail "the man page does not name version $version"
grep -q -- "--password-file" <<<"$page" || fail "the man page lacks wifi-station's --password-file"

completed=$(bash -c 'source "$1"; COMP_WORDS=("$2" wifi-s); COMP_CWORD=1; _tolctl; echo "${COMPREPLY[*]}"' \
    _ "$root/usr/share/bash-completion/completions/tolctl" "$tolctl")
[ "$completed" = wifi-station ] || fail "completing 'tolctl wifi-s' gave '$completed'"

# cmake --install: the same files in the usual places under the prefix.
cmake --install "$build" --prefix "$root/prefix" --strip >/dev/null || fail "cmake --install"
for file in bin/tolctl share/man/man1/tolctl.1.gz share/bash-completion/completions/tolctl \
    share/doc/tolctl/profiles.md share/doc/tolctl/profile.schema.json share/doc/tolctl/tolctl.md \
    share/doc/tolctl/monitoring.md share/doc/tolctl/console.md share/doc/tolctl/console.png share/doc/tolctl/record.md; do
    [ -f "$root/prefix/$file" ] || fail "cmake --install put no $file"
done

[ $status -eq 0 ] && echo "$(basename "$deb") passed ($(stat -c %s "$deb") bytes)"
exit $status
