#!/usr/bin/env bash
# Sets everything up, builds, and starts tolvane (under Wine on Linux) with tolctl's printer
# emulator as the printer: choose the port "Ethernet", enter 127.0.0.1 as the printer's address,
# and every button press is printed here, decoded. Without an X display tolvane runs on a
# virtual one, shown in a web browser: the URL to open is printed (scripts/browser-session.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# Only what runs: an optimized tolctl for the emulator and the two dialog programs; no tests, no
# sanitizers. The build trees are the test command's own, so either reuses what the other built.
step() { printf '\nrun: %s\n' "$*"; }
step "building tolctl (optimized), 1 of 2"
scripts/build.sh release -- tolctl
step "building tolvane.exe and tolwire.exe for Windows, 2 of 2"
scripts/build.sh windows -- tolvane tolwire

tolctl=build/release/tolctl/tolctl
export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all

# No display (a server, a container, over SSH): the dialog in a web browser instead, through a
# virtual display and noVNC; scripts/browser-session.sh prints the URL to open.
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    echo "run: no X display here (DISPLAY is unset or does not answer): serving tolvane to a web browser."
    exec scripts/browser-session.sh "$tolctl" build/windows/tolvane/tolvane.exe
fi

listener=
cleanup() {
    [ -n "$listener" ] && kill "$listener" 2>/dev/null
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# The printer: tolctl's emulator on TCP 9100, printing each command it receives.
"$tolctl" listen --bind 127.0.0.1 --port 9100 &
listener=$!
sleep 0.3
if ! kill -0 "$listener" 2>/dev/null; then
    echo "run: could not listen on 127.0.0.1:9100 (is another printer emulator running?)" >&2
    exit 1
fi

# A Wine session of this display's own (see tests/e2e/run-e2e.sh), then tolvane.
wineserver -k 2>/dev/null || true
scripts/wine-prefix.sh "$WINEPREFIX"
cat <<'TEXT'

tolvane is starting. In its dialog choose "Ethernet" under "Choose Printer Port", enter
127.0.0.1 as "Printer IP Address", and press any button: the command the printer would receive
appears below, decoded. Close tolvane to end.

TEXT
wine build/windows/tolvane/tolvane.exe >/dev/null 2>&1 </dev/null
