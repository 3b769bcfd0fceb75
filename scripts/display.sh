# Sourced by scripts that show windows: ensure_display makes sure DISPLAY names a working X
# display, starting a private Xvfb when there is none; its pid is then in TOL_XVFB_PID, for the
# caller to end (stop_display).
ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    if ! command -v Xvfb >/dev/null; then
        echo "No X display and no Xvfb: install the package xvfb (scripts/setup.sh does) or set DISPLAY." >&2
        return 1
    fi
    local n
    for n in $(seq 90 130); do
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        local pid=$!
        for _ in $(seq 50); do
            if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
                export DISPLAY=":$n"
                TOL_XVFB_PID=$pid
                return 0
            fi
            sleep 0.1
        done
        kill "$pid" 2>/dev/null
    done
    echo "Could not start Xvfb." >&2
    return 1
}

stop_display() {
    if [ -n "${TOL_XVFB_PID:-}" ]; then
        kill "$TOL_XVFB_PID" 2>/dev/null
        TOL_XVFB_PID=
    fi
}
