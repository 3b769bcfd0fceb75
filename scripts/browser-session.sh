#!/usr/bin/env bash
# tolvane in a web browser, for a machine without a display: a virtual display (Xvfb) served
# through x11vnc and noVNC (websockify), tolctl's printer emulator as the printer, and tolvane
# (under Wine) on that display. Prints the one URL to open, then runs until tolvane ends or it is
# stopped (Ctrl-C, SIGTERM); everything it started ends with it.
#
# Usage: browser-session.sh TOLCTL TOLVANE.EXE      (scripts/run.sh calls it when there is no display)
# Environment: WINEPREFIX (the Wine prefix, required)
#   TOL_WEB_PORT     the page's port (default: the first free one from 6080)
#   TOL_WEB_LISTEN   the address the page is served on (default 127.0.0.1, this machine only).
#                    Any address outside 127.0.0.0/8 may be reachable from elsewhere: then the
#                    session gets a random password, which is part of the URL printed.
#   TOL_WEB_PASSWORD on: the random password on 127.0.0.1 too (a machine shared with others).
#   TOL_PRINTER_AT   the emulator's address (default 127.0.0.1), on TCP port 9100
# The emulator's output (the decoded commands) goes to standard output.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tolctl=$1
exe=$2
listen=${TOL_WEB_LISTEN:-127.0.0.1}
printer=${TOL_PRINTER_AT:-127.0.0.1}
[ -n "${WINEPREFIX:-}" ] || { echo "browser-session: WINEPREFIX is not set" >&2; exit 2; }
export WINEDEBUG=-all
for tool in x11vnc websockify; do
    command -v "$tool" >/dev/null || { echo "browser-session: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -f /usr/share/novnc/vnc.html ] || { echo "browser-session: noVNC is missing (package novnc)" >&2; exit 1; }

work=$(mktemp -d /tmp/tol-browser.XXXXXX)
pids=()
source "$here/display.sh"
cleanup() {
    trap - EXIT INT TERM
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wineserver -k 2>/dev/null
    stop_display
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A TCP port nobody listens on at 127.0.0.1, from $1 upwards.
free_port() {
    local port=$1
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    echo "$port"
}
# Waits until something listens on 127.0.0.1:$1 (up to 10 s).
await_port() {
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Always a display of our own: DISPLAY may name one that does not answer.
unset DISPLAY
ensure_display || exit 1

# The VNC server, for this machine only; websockify is its only client.
vnc_port=$(free_port 5900)
password=
vnc_auth=(-nopw)
if [[ $listen != 127.* ]] || [ "${TOL_WEB_PASSWORD:-}" = on ]; then
    # VNC's own authentication takes 8 characters.
    password=$(tr -dc 'A-Za-z0-9' </dev/urandom | head -c 8)
    x11vnc -storepasswd "$password" "$work/vnc.pass" >/dev/null 2>&1
    vnc_auth=(-rfbauth "$work/vnc.pass")
fi
x11vnc -display "$DISPLAY" -localhost -rfbport "$vnc_port" "${vnc_auth[@]}" -forever -shared -quiet \
    >"$work/x11vnc.log" 2>&1 &
pids+=($!)
await_port "$vnc_port" || { echo "browser-session: x11vnc did not start:" >&2; cat "$work/x11vnc.log" >&2; exit 1; }

# The page: noVNC, served by websockify, which also carries the VNC connection.
web_port=${TOL_WEB_PORT:-$(free_port 6080)}
websockify --web /usr/share/novnc "$listen:$web_port" "127.0.0.1:$vnc_port" >"$work/websockify.log" 2>&1 &
pids+=($!)
await_port "$web_port" || [[ $listen != 127.0.0.1 ]] ||
    { echo "browser-session: websockify did not start:" >&2; cat "$work/websockify.log" >&2; exit 1; }

# The printer: tolctl's emulator, printing each command it receives.
"$tolctl" listen --bind "$printer" --port 9100 &
pids+=($!)
sleep 0.3
kill -0 "${pids[-1]}" 2>/dev/null || { echo "browser-session: cannot listen on $printer:9100 (is another emulator running?)" >&2; exit 1; }

# A Wine session on this display (a desktop started elsewhere would keep the window away).
wineserver -k 2>/dev/null
"$here/wine-prefix.sh" "$WINEPREFIX"
wine wineboot >"$work/wineboot.log" 2>&1 </dev/null
wine "$exe" >"$work/tolvane.log" 2>&1 </dev/null &
tolvane=$!

host=$listen
[[ $listen == 0.0.0.0 ]] && host=$(hostname)
url="http://$host:$web_port/vnc.html?autoconnect=true&resize=scale"
[ -n "$password" ] && url="$url&password=$password"
cat <<TEXT

tolvane runs on a virtual display. Open this in a web browser:

    $url

TEXT
echo "(The virtual display is $DISPLAY: import -display $DISPLAY -window root shot.png takes a picture.)"
if [ -n "$password" ]; then
    echo "(The password in the URL is this session's; keep the URL to yourself.)"
fi
if [[ $listen == 127.* ]]; then
    echo "(Served on this machine only. From another one: ssh -L $web_port:127.0.0.1:$web_port THIS_HOST, then open the URL there.)"
fi
cat <<TEXT
In the dialog choose "Ethernet" under "Choose Printer Port", enter $printer as "Printer IP
Address", and press any button: the command the printer would receive appears below, decoded.
Close tolvane, or press Ctrl-C here, to end.

TEXT
wait "$tolvane"
