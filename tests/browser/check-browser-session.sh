#!/usr/bin/env bash
# The main job without a display, in a real browser: starts scripts/browser-session.sh as
# scripts/run.sh does without a display, opens the URL it prints in headless Chromium
# (tests/browser/drive-browser.py), checks that the page shows the dialog, chooses Ethernet and
# the emulator's address and presses Test Connect through the page, and checks that the emulator
# received the test print. Then stops the session and checks that it ended with all it started.
# Usage: check-browser-session.sh TOLCTL TOLVANE.EXE DIALOG_RECTS.EXE OUT_DIR
# TOL_WINEPREFIX names the Wine prefix. The pictures are left in OUT_DIR.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
tolctl=$1
exe=$2
rects_exe=$3
out=$4
printer=127.0.0.6
[ -n "${TOL_WINEPREFIX:-}" ] || { echo "TOL_WINEPREFIX is not set" >&2; exit 2; }
[ -x "$tolctl" ] || { echo "FAIL no host tolctl at $tolctl (build the native preset first)" >&2; exit 1; }
export WINEPREFIX=$TOL_WINEPREFIX WINEDEBUG=-all
mkdir -p "$out"
log=$out/browser-session.log
status=0
fail() {
    echo "FAIL $*" >&2
    status=1
}

env -u DISPLAY TOL_PRINTER_AT=$printer setsid "$scripts/browser-session.sh" "$tolctl" "$exe" >"$log" 2>&1 &
session=$!
finish() {
    kill -TERM "$session" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$session" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$session" 2>/dev/null; then
        kill -KILL -- "-$session" 2>/dev/null
        echo "FAIL the session did not end within 10 s of SIGTERM" >&2
        return 1
    fi
    # Bring the prefix's detached server back for the next test (see tests/e2e/run-e2e.sh).
    env -u DISPLAY "$scripts/wine-prefix.sh" "$TOL_WINEPREFIX" >/dev/null 2>&1
}
trap 'finish >/dev/null 2>&1' EXIT

# The URL and, a line later, the display: both awaited (the session may be between the two).
url= display=
for _ in $(seq 600); do
    url=$(grep -oE 'http://127\.0\.0\.1:[0-9]+/vnc\.html\?[^ ]*' "$log" | head -n 1)
    display=$(grep -oE 'virtual display is :[0-9]+' "$log" | grep -oE ':[0-9]+')
    [ -n "$url" ] && [ -n "$display" ] && break
    kill -0 "$session" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$url" ] || [ -z "$display" ]; then
    cat "$log" >&2
    echo "FAIL the session printed no URL or no display" >&2
    exit 1
fi
echo "the session serves $url (display $display)"

if ! DISPLAY=$display wine "$rects_exe" "WIFI & Bluetooth & Ethernet" 0 1000 1042 1004 </dev/null \
    >"$out/rects.txt" 2>"$out/rects.err"; then
    cat "$out/rects.err" >&2
    fail "tolvane's dialog did not come up on the virtual display"
else
    python3 "$here/drive-browser.py" "$url" "$display" "$out/rects.txt" "$printer" "$out/browser.png" ||
        fail "the browser (above)"
    for _ in $(seq 50); do grep -qx 'test-print' "$log" && break; sleep 0.1; done
    grep -qx 'test-print' "$log" || fail "the emulator received no test print from the press in the browser"
fi

web_port=$(sed -E 's#http://127\.0\.0\.1:([0-9]+)/.*#\1#' <<<"$url")
trap - EXIT
finish || status=1
if (exec 3<>"/dev/tcp/127.0.0.1/$web_port") 2>/dev/null; then
    fail "the page is still served after the session ended"
fi
[ $status -eq 0 ] || { echo "--- the session's output:"; cat "$log"; }
[ $status -eq 0 ] && echo "the dialog works through the browser; pictures in $out"
exit $status
