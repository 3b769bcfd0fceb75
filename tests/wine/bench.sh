#!/usr/bin/env bash
# The Linux side of the Windows transport tests. It runs a test program under Wine and, while the
# program runs, makes fake ports for it on request: pseudo-terminals that stand for COM, LPT and
# USB printer devices, a FIFO that stalls like a printer that takes no more data, and links in
# the prefix's dosdevices folder that point the DOS device names at them. The program asks over
# a loopback TCP connection (port in TOL_BENCH_PORT), one request per connection:
#
#   ping                     answers "pong"
#   pty NAME                 a pty pair; dosdevices/NAME -> one end, what arrives is captured
#   stall NAME               dosdevices/NAME -> a FIFO whose buffer is full and that nobody reads
#   drain NAME               starts reading the stalled FIFO into the capture
#   read NAME COUNT          the capture in hex, once it holds COUNT bytes (or after 3 s)
#   stty NAME                `stty -a` of the pty end that the program opens
#   preset NAME SETTINGS     `stty SETTINGS` on that end, before the program opens it
#   inject NAME HEX          sends bytes from the far end towards the program
#   answer NAME HEX          from now on the far end answers each status request DLE EOT n
#                            (10 04 n) with byte n of HEX; what arrives is still captured
#   holders NAME             how many descriptors others (Wine) hold on the pty end
#   unplug NAME              ends the pty (the link stays, dangling, as after an unplug)
#   absent NAME              removes dosdevices/NAME
#   remove NAME              ends the fake and puts dosdevices/NAME back as it was
#
# Every answer ends with a line "ok" or "error: ...". At the end every fake is ended and every
# dosdevices link is put back as it was.
#
# Usage: bench.sh PROGRAM [ARGS...]     (CTest uses it as the test program's emulator)
#        bench.sh serve DIR             (internal: answers one request on stdin/stdout)
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

# The prefix that scripts/wine-run.sh would pick for the program.
prefix_for() {
    if [ -n "${TOL_WINEPREFIX:-}" ]; then
        echo "$TOL_WINEPREFIX"
        return
    fi
    local dir
    dir=$(cd "$(dirname "$1")" && pwd)
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    [ -f "$dir/CMakeCache.txt" ] || dir=$(pwd)
    echo "$dir/wineprefix"
}

# ---- serving one request -------------------------------------------------------------------

running() {  # a zombie counts as ended: nobody may be there to reap it
    local state
    state=$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

kill_fake() {  # ends the processes of fake $1 and waits until they are gone
    local pids=$dir/$1.pids pid
    [ -f "$pids" ] || return 0
    while read -r pid; do kill "$pid" 2>/dev/null; done <"$pids"
    for _ in $(seq 100); do
        local alive=0
        while read -r pid; do running "$pid" && alive=1; done <"$pids"
        [ $alive -eq 0 ] && break
        sleep 0.02
    done
    rm -f "$pids" "$dir/$1.capture"
}

save_link() {  # remembers what dosdevices/$1 was before the bench touched it
    local link=$WINEPREFIX/dosdevices/$1
    [ -f "$dir/$1.orig" ] && return 0
    if [ -L "$link" ]; then readlink "$link" >"$dir/$1.orig"; else : >"$dir/$1.orig"; fi
}

restore_link() {
    local link=$WINEPREFIX/dosdevices/$1
    [ -f "$dir/$1.orig" ] || return 0
    local target
    target=$(cat "$dir/$1.orig")
    if [ -n "$target" ]; then ln -sfn "$target" "$link"; else rm -f "$link"; fi
    rm -f "$dir/$1.orig"
}

wait_for() {  # waits up to 3 s until the test in "$@" holds
    for _ in $(seq 150); do
        "$@" && return 0
        sleep 0.02
    done
    return 1
}

size_at_least() {
    [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ge "$2" ]
}

serve() {
    dir=$1
    # socat hands its own sockets down too; the fakes started below must not keep the request's
    # connection open, so everything but stdio (and bash's own script, 255) is closed first.
    local fd
    for fd in $(ls /proc/$$/fd); do
        if [ "$fd" -gt 2 ] && [ "$fd" -ne 255 ]; then eval "exec $fd>&-"; fi
    done
    IFS=' ' read -r cmd name arg || true
    name=${name%$'\r'}
    arg=${arg%$'\r'}
    if [ "$cmd" = ping ]; then
        printf 'pong\nok\n'
        return
    fi
    # Names become file names: lower-case device names only.
    if ! [[ "$name" =~ ^[a-z0-9_#\&{}.-]+$ ]]; then
        printf 'error: bad name "%s"\n' "$name"
        return
    fi
    local link=$WINEPREFIX/dosdevices/$name base=$dir/$name
    case "$cmd" in
    pty)
        kill_fake "$name"
        save_link "$name"
        rm -f "$base.tty" "$base.peer" "$base.bin"
        socat PTY,raw,echo=0,link="$base.tty" PTY,raw,echo=0,link="$base.peer" </dev/null >/dev/null 2>&1 &
        echo $! >"$base.pids"
        if ! wait_for test -e "$base.tty" -a -e "$base.peer"; then
            printf 'error: no pty\n'
            return
        fi
        : >"$base.bin"
        cat "$base.peer" >>"$base.bin" 2>/dev/null </dev/null &
        echo $! >>"$base.pids"
        echo $! >"$base.capture"
        ln -sfn "$base.tty" "$link"
        ;;
    answer)
        # The capture becomes a printer that answers status requests as it captures.
        if ! [[ "$arg" =~ ^([0-9a-f]{2})+$ ]] || [ ! -f "$base.capture" ]; then
            printf 'error: no pty, or answers not in hex\n'
            return
        fi
        local capture
        capture=$(cat "$base.capture")
        kill "$capture" 2>/dev/null
        wait_for eval '! running '"$capture"
        rm -f "$base.ready"
        python3 "$here/status_printer.py" "$base.peer" "$base.bin" "$arg" "$base.ready" \
            </dev/null >/dev/null 2>&1 &
        echo $! >>"$base.pids"
        echo $! >"$base.capture"
        if ! wait_for test -e "$base.ready"; then
            printf 'error: the answering printer did not start\n'
            return
        fi
        ;;
    stall)
        kill_fake "$name"
        save_link "$name"
        rm -f "$base.fifo" "$base.full" "$base.bin"
        mkfifo "$base.fifo"
        # Opened for reading and writing, so that it has a reader, and filled to the brim.
        (
            exec 3<>"$base.fifo"
            head -c 65536 /dev/zero >&3
            touch "$base.full"
            exec sleep 600
        ) </dev/null >/dev/null 2>&1 &
        echo $! >"$base.pids"
        if ! wait_for test -e "$base.full"; then
            printf 'error: fifo not filled\n'
            return
        fi
        : >"$base.bin"
        ln -sfn "$base.fifo" "$link"
        ;;
    drain)
        cat "$base.fifo" >>"$base.bin" 2>/dev/null </dev/null &
        echo $! >>"$base.pids"
        ;;
    read)
        local count=${arg:-0}
        wait_for size_at_least "$base.bin" "$count"
        sleep 0.1  # anything that should not be there has had time to arrive too
        od -An -v -tx1 "$base.bin" | tr -d ' \n'
        echo
        ;;
    stty)
        if ! stty -a -F "$base.tty" 2>&1; then
            printf 'error: stty failed\n'
            return
        fi
        ;;
    preset)
        # Line settings as a driver might have left them, in stty's words ("1200 cstopb ...").
        if ! [[ "$arg" =~ ^[a-zA-Z0-9^\ -]*$ ]] || ! stty -F "$base.tty" $arg 2>&1; then
            printf 'error: preset failed\n'
            return
        fi
        ;;
    holders)
        # Open descriptors of the pty end that the program opens, the bench's own not counted:
        # non-zero while Wine (the program or its server) holds the device.
        local pts fd pid count=0
        pts=$(readlink -f "$base.tty")
        for fd in $(find /proc/[0-9]*/fd -maxdepth 1 -lname "$pts" 2>/dev/null); do
            pid=${fd#/proc/}
            pid=${pid%%/*}
            grep -qx "$pid" "$base.pids" 2>/dev/null && continue
            count=$((count + 1))
        done
        echo "$count"
        ;;
    inject)
        # shellcheck disable=SC2059
        printf "$(sed 's/../\\x&/g' <<<"$arg")" >"$base.peer" || {
            printf 'error: inject failed\n'
            return
        }
        ;;
    unplug)
        kill_fake "$name"
        ;;
    absent)
        save_link "$name"
        rm -f "$link"
        ;;
    remove)
        kill_fake "$name"
        restore_link "$name"
        ;;
    *)
        printf 'error: unknown request "%s"\n' "$cmd"
        return
        ;;
    esac
    printf 'ok\n'
}

if [ "${1:-}" = serve ]; then
    started=$(date +%s.%N)
    serve "$2"
    # A record of the requests, for when a test takes longer than it should.
    echo "$(date +%T) $(echo "$(date +%s.%N) - $started" | bc) s: $cmd $name" >>"$2/requests.log"
    exit 0
fi

# ---- running the program -------------------------------------------------------------------

[ $# -ge 1 ] || { echo "usage: bench.sh PROGRAM [ARGS...]" >&2; exit 2; }
export TOL_WINEPREFIX
TOL_WINEPREFIX=$(prefix_for "$1")
export WINEPREFIX=$TOL_WINEPREFIX
# The prefix (and its dosdevices folder) must exist before the first request.
[ -f "$TOL_WINEPREFIX/.tol-ready" ] || "$root/scripts/wine-prefix.sh" "$TOL_WINEPREFIX"

dir=$(mktemp -d "${TMPDIR:-/tmp}/tol-bench.XXXXXX")
server=

cleanup() {
    if [ -n "$server" ]; then
        pkill -P "$server" 2>/dev/null  # the server's connection handlers still winding down
        kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    fi
    local file name
    for file in "$dir"/*.pids; do
        [ -e "$file" ] || continue
        name=$(basename "$file" .pids)
        kill_fake "$name"
    done
    for file in "$dir"/*.orig; do
        [ -e "$file" ] || continue
        name=$(basename "$file" .orig)
        restore_link "$name"
    done
    # TOL_BENCH_LOG=FILE keeps the record of the requests and their times.
    [ -n "${TOL_BENCH_LOG:-}" ] && cp "$dir/requests.log" "$TOL_BENCH_LOG" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A free port: socat ends at once when the port is taken.
for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    # -t: a request may take a few seconds after the client has sent its line (socat's default
    # is 0.5 s).
    socat -t 10 TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork EXEC:"$here/bench.sh serve $dir" \
        </dev/null >/dev/null 2>"$dir/server.log" &
    server=$!
    up=0
    for _ in $(seq 50); do
        kill -0 "$server" 2>/dev/null || break
        if [ "$(socat -T 2 - TCP:127.0.0.1:$port <<<ping 2>/dev/null | head -n 1)" = pong ]; then
            up=1
            break
        fi
        sleep 0.02
    done
    [ $up -eq 1 ] && break
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    server=
done
if [ -z "$server" ]; then
    echo "bench: could not start the request server" >&2
    exit 1
fi

export TOL_BENCH_PORT=$port
# The program's output goes through a file: Wine's own services, which the first program of a
# fresh server starts, inherit its output and would keep a pipe (CTest's) open for good.
"$root/scripts/wine-run.sh" "$@" >"$dir/output.log" 2>&1
status=$?
cat "$dir/output.log"
exit $status
