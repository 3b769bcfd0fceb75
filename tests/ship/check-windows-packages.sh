#!/usr/bin/env bash
# Checks the Windows packages as a user gets them, under Wine (with Xvfb when there is no display).
#   zip: unpacks tolvane-VERSION-windows-x64.zip and runs each program from the unpacked folder:
#        the dialogs come up and print, tolctl.exe --version and a --dry-run answer; the folder
#        holds exactly the three programs, README.txt and LICENSE.txt, with Windows line ends.
#   msi: installs tolvane-VERSION-windows-x64.msi (msiexec /i /qn), checks the files under
#        Program Files\tolvane and the Start-menu shortcuts, runs the installed programs,
#        uninstalls it (msiexec /x /qn) and checks that nothing of it is left.
# Usage: check-windows-packages.sh zip|msi PACKAGES_DIR VERSION SHIPPED_TEST.exe OBJDUMP
# TOL_WINEPREFIX names the Wine prefix.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
mode=$1
packages=$2
version=$3
shipped_test=$4
objdump=$5
name=tolvane-$version-windows-x64
files="LICENSE.txt README.txt tolctl.exe tolvane.exe tolwire.exe"

[ -n "${TOL_WINEPREFIX:-}" ] || { echo "TOL_WINEPREFIX is not set" >&2; exit 2; }
# No menu entries or file associations for the Linux desktop from what the installer does.
export WINEPREFIX=$TOL_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

status=0
fail() {
    echo "FAIL $*" >&2
    status=1
}

work=$(mktemp -d /tmp/tol-ship.XXXXXX)
source "$scripts/display.sh"
cleanup() {
    stop_display
    rm -rf "$work"
    # As the end-to-end tests leave it: the prefix's server detached, for the next test.
    wineserver -k 2>/dev/null
    env -u DISPLAY "$scripts/wine-prefix.sh" "$TOL_WINEPREFIX" >/dev/null 2>&1
}
trap cleanup EXIT
ensure_display || exit 1
# A Wine session on this display (see tests/e2e/run-e2e.sh).
wineserver -k 2>/dev/null
"$scripts/wine-prefix.sh" "$TOL_WINEPREFIX"
wine wineboot >"$work/wineboot.log" 2>&1 </dev/null

# tolctl.exe in DIR (a Linux path) answers --version and a --dry-run.
check_tolctl() {
    local tolctl=$1/tolctl.exe got
    got=$(wine "$tolctl" --version </dev/null 2>&1 | tr -d '\r')
    [ "$got" = "tolctl $version" ] || fail "tolctl.exe --version: '$got', not 'tolctl $version'"
    got=$(wine "$tolctl" --dry-run wifi-ap --name "Thermal Printer" --mode ap </dev/null 2>&1 | tr -d '\r')
    [ "$got" = "1f 1a 1f 1b 1f 03 0a 0b 0c 00 0f 54 68 65 72 6d 61 6c 20 50 72 69 6e 74 65 72" ] ||
        fail "tolctl.exe --dry-run wifi-ap: '$got'"
}

# The dialog programs in DIR (a Windows path) show their dialog and print.
check_dialogs() {
    TOL_SHIPPED_DIR=$1 WINEDLLOVERRIDES="mscoree,mshtml=" wine "$shipped_test" </dev/null ||
        fail "the dialog programs in $1 (above)"
}

# Exactly the shipped files in a folder (a Linux path).
check_files() {
    local listed
    listed=$(cd "$1" && ls | tr '\n' ' ' | sed 's/ $//')
    [ "$listed" = "$files" ] || fail "$1 holds '$listed', not '$files'"
}

case $mode in
zip)
    zip=$packages/$name.zip
    [ -f "$zip" ] || { echo "FAIL no $zip" >&2; exit 1; }
    unzip -q "$zip" -d "$work/unpacked" || fail "unzip $zip"
    top=$(ls "$work/unpacked")
    [ "$top" = "$name" ] || fail "the zip's top folder is '$top', not '$name'"
    dir=$work/unpacked/$name
    check_files "$dir"
    for text in README.txt LICENSE.txt; do
        lines=$(wc -l <"$dir/$text")
        crlf=$(grep -c $'\r$' "$dir/$text")
        [ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] || fail "$text: $crlf of $lines lines end in CR LF"
    done
    grep -q "tolvane $version for Windows" "$dir/README.txt" || fail "README.txt does not name version $version"
    grep -q "USB001" "$dir/README.txt" && grep -q "COM1" "$dir/README.txt" || fail "README.txt lacks the port examples"
    grep -q "Copyright (c) .* The tolvane developers" "$dir/LICENSE.txt" || fail "LICENSE.txt lacks the copyright line"
    # Static and stripped: only DLLs that Windows ships; the dialog programs under 350 KB.
    "$here/check-programs.sh" "$objdump" Release 350 "$dir/tolvane.exe:sized" "$dir/tolwire.exe:sized" \
        "$dir/tolctl.exe" || status=1
    check_tolctl "$dir"
    check_dialogs "$(winepath -w "$dir")"
    ;;
msi)
    msi=$packages/$name.msi
    [ -f "$msi" ] || { echo "FAIL no $msi" >&2; exit 1; }
    installed=$WINEPREFIX/drive_c/Program\ Files/tolvane
    # Wine puts the shortcuts of a per-machine install into the user's Start menu, Windows
    # into the common one: either is taken.
    menus=("$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/tolvane"
        "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/tolvane")
    # Left over from a run that stopped half-way: removed first.
    [ -d "$installed" ] && wine msiexec /x "$msi" /qn </dev/null >/dev/null 2>&1

    wine msiexec /i "$msi" /qn </dev/null >"$work/install.log" 2>&1
    code=$?
    [ $code -eq 0 ] || fail "msiexec /i: exit code $code"
    check_files "$installed"
    menu=
    for m in "${menus[@]}"; do [ -d "$m" ] && menu=$m; done
    if [ -z "$menu" ]; then
        fail "no Start-menu folder tolvane"
    else
        listed=$(cd "$menu" && ls | tr '\n' ' ')
        [ "$listed" = "tolvane.lnk tolwire.lnk " ] || fail "the Start-menu folder holds '$listed'"
    fi
    wine reg query 'HKLM\Software\tolvane' </dev/null >/dev/null 2>&1 || fail "no registry key HKLM\Software\tolvane after msiexec /i"
    check_tolctl "$installed"
    check_dialogs 'C:\Program Files\tolvane'

    # The installed programs just ran: on a busy machine Wine may still hold one of them for a
    # moment after it ended, and an uninstall then fails on the file in use. Wait for them.
    for _ in $(seq 50); do
        pgrep -f 'Program Files.tolvane.(tolvane|tolwire|tolctl)\.exe' >/dev/null || break
        sleep 0.2
    done
    wine msiexec /x "$msi" /qn /l*v 'C:\uninstall.log' </dev/null >"$work/uninstall.out" 2>&1
    code=$?
    if [ $code -ne 0 ]; then
        fail "msiexec /x: exit code $code; the end of its log:"
        tail -n 40 "$WINEPREFIX/drive_c/uninstall.log" | tr -d '\r\0' >&2
    fi
    rm -f "$WINEPREFIX/drive_c/uninstall.log"
    [ ! -e "$installed" ] || fail "after msiexec /x, $installed is still there: $(ls "$installed")"
    for m in "${menus[@]}"; do
        [ ! -e "$m" ] || fail "after msiexec /x, the Start-menu folder $m is still there"
    done
    wine reg query 'HKLM\Software\tolvane' </dev/null >/dev/null 2>&1 && fail "after msiexec /x, HKLM\Software\tolvane is still there"
    ;;
*)
    echo "usage: check-windows-packages.sh zip|msi PACKAGES_DIR VERSION SHIPPED_TEST.exe OBJDUMP" >&2
    exit 2
    ;;
esac
[ $status -eq 0 ] && echo "the $mode package passed"
exit $status
