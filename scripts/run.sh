#!/usr/bin/env bash
# Sets everything up, builds, and starts tolvane (under Wine on Linux) with tolctl's printer
# emulator as the printer: choose the port "Ethernet", enter 127.0.0.1 as the printer's address,
# and every button press is printed here, decoded.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh native windows >/dev/null

source scripts/display.sh
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    cat >&2 <<'TEXT'
run: there is no X display to show tolvane's window on (DISPLAY is unset or does not answer).
  - On a desktop: run this from a terminal of your desktop session.
  - Over SSH: connect with X forwarding (ssh -X), then run it again.
  - Without any screen: start a virtual one and watch it with a VNC viewer, e.g.
      Xvfb :5 -screen 0 1280x1024x24 & DISPLAY=:5 ./scripts/run.sh
    or just look at the dialog: scripts/screenshot.sh tolvane shot.png
Everything else works without a display: tolctl (build/native/tolctl/tolctl --help).
TEXT
    exit 1
fi

tolctl=build/native/tolctl/tolctl
export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all
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
