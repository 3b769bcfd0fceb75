#!/usr/bin/env bash
# Saves a picture of a program's dialog as it looks after start: screenshot.sh PROGRAM OUT.png
# (PROGRAM: tolvane or tolwire, from build/windows). Uses a private Xvfb when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
program=$1
out=$2
exe=build/windows/$program/$program.exe
[ -f "$exe" ] || { echo "screenshot: build $exe first (scripts/build.sh windows)" >&2; exit 1; }

source scripts/display.sh
export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all
cleanup() {
    wineserver -k 2>/dev/null || true
    stop_display
}
trap cleanup EXIT
ensure_display
wineserver -k 2>/dev/null || true
scripts/wine-prefix.sh "$WINEPREFIX"

wine "$exe" >/dev/null 2>&1 </dev/null &
window=
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$(pgrep -f "$program.exe" | head -n 1)" 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: $program did not show its dialog" >&2; exit 1; }
sleep 2  # the clock and the instruction panel fill after the first second
import -window "$window" "$out"
echo "saved $out"
