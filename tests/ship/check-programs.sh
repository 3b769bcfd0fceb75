#!/usr/bin/env bash
# Checks what the Windows programs need in order to run on a plain Windows PC: every DLL they
# import is one that Windows itself ships, and (in a release build) the dialog programs stay
# small and every program carries no symbols. Usage: check-programs.sh OBJDUMP CONFIG MAX_KB PROGRAM[:sized]...
#   PROGRAM:sized  the size limit applies to this program (release builds only).
set -uo pipefail
objdump=$1
config=$2
max_kb=$3
shift 3

# DLLs that come with every Windows since 7, in lower case.
allowed=" kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll ws2_32.dll mswsock.dll setupapi.dll advapi32.dll
          shell32.dll shlwapi.dll ole32.dll oleaut32.dll version.dll iphlpapi.dll msvcrt.dll "
# One blank between the names, at the ends too: a name at a line's end is matched as any other.
allowed=" $(echo $allowed) "

status=0
for arg in "$@"; do
    program=${arg%:sized}
    name=$(basename "$program")
    if [ ! -f "$program" ]; then
        echo "FAIL $name: not built" >&2
        status=1
        continue
    fi
    dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | tr -d '\r')
    # Every Windows program imports KERNEL32: without it the import list was not read at all.
    if ! grep -qx kernel32.dll <<<"$dlls"; then
        echo "FAIL $name: no import list found" >&2
        status=1
        continue
    fi
    for dll in $dlls; do
        if [[ "$allowed" != *" $dll "* ]]; then
            echo "FAIL $name imports $dll, which Windows does not ship" >&2
            status=1
        fi
    done
    echo "$name imports: $(echo $dlls)"
    release=0
    case "$config" in Release | MinSizeRel) release=1 ;; esac
    if [ $release -eq 1 ] && ! "$objdump" -t "$program" | grep -qx 'no symbols'; then
        echo "FAIL $name carries a symbol table: a release program ships stripped" >&2
        status=1
    fi
    sized=0
    [ "$arg" != "$program" ] && [ $release -eq 1 ] && sized=1
    if [ $sized -eq 1 ]; then
        size=$(stat -c %s "$program")
        if [ "$size" -gt $((max_kb * 1024)) ]; then
            echo "FAIL $name is $size bytes, more than $max_kb KB" >&2
            status=1
        else
            echo "$name: $size bytes (at most $max_kb KB)"
        fi
    fi
done
exit $status
