# The shell library of the test scripts and the benchmarks (sourced): a work folder removed at
# the end, processes ended at the end, failing with a message, bytes as hex, tolctl serving
# (`tolctl listen`, the emulator; the console) started and awaited and stopped, natively or as
# tolctl.exe under Wine, and the benchmarks' timing. Only loopback addresses.
#   source "$(dirname "${BASH_SOURCE[0]}")/../support/lib.sh"
#   tol_begin NAME TOLCTL   # sets $work, $tolctl and $run (wine-run.sh for a .exe, else nothing)

tol_support=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tol_pids=()

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The bytes of file $1 as "1d 56 01".
hex() { od -An -v -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

# At the end: the processes of tol_pids are ended and $work removed (kept, and named, when
# TOL_KEEP_WORK is set).
tol_end() {
    [ -z "${TOL_KEEP_WORK:-}" ] || { echo "kept $work" >&2; work=; }
    local pid
    for pid in "${tol_pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    [ -z "${work:-}" ] || rm -rf "$work"
}

# A work folder /tmp/NAME.XXXXXX, removed with every process of tol_pids when the script ends;
# tolctl's record is kept in it.
tol_begin() {
    work=$(mktemp -d "/tmp/$1.XXXXXX")
    tolctl=${2:-}
    run=()
    wine=0
    if [[ $tolctl == *.exe ]]; then
        : "${TOL_WINEPREFIX:?TOL_WINEPREFIX is not set}"
        run=("$tol_support/../../scripts/wine-run.sh")
        wine=1
    fi
    # tolctl's fleet record goes to the work folder, never to the user's (under Wine to the
    # prefix's own folder of the user).
    [ "$wine" = 1 ] || export TOLCTL_RECORD="$work/record.sqlite"
    trap tol_end EXIT
}

# Starts `tolctl ARGS...` in the background as NAME ($1), its output in $work/NAME.out and .err,
# and waits (30 s at most) for its first line that matches the extended regular expression $2:
# sets $started (its process) and $started_line (that line, without a carriage return).
tol_start() {
    local name=$1 pattern=$2
    shift 2
    "${run[@]}" "$tolctl" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err" &
    started=$!
    tol_pids+=("$started")
    started_line=
    for _ in $(seq 600); do
        started_line=$(grep -m1 -E "$pattern" "$work/$name.out" | tr -d '\r' || true)
        [ -n "$started_line" ] && return 0
        kill -0 "$started" 2>/dev/null || break
        sleep 0.05
    done
    fail "$name did not start: $(cat "$work/$name.out" "$work/$name.err")"
}

# Starts `tolctl listen ARGS...` (--port 0 for a free port), its output in $work/listen.out and
# .err (the second one's in listen-2.*, ...); waits for its first "listening on" line and sets
# $port, $emulator and $emulator_out (its output file).
tol_listens=0
tol_listen() {
    local name=listen
    tol_listens=$((tol_listens + 1))
    [ $tol_listens = 1 ] || name=listen-$tol_listens
    tol_start "$name" '^listening on' listen "$@"
    emulator=$started
    emulator_out=$work/$name.out
    emulator_err=$work/$name.err
    port=$(sed -n 's/^listening on [0-9.-]*:\([0-9]*\).*$/\1/p' <<<"$started_line")
    [ -n "$port" ] || fail "the emulator did not start: $(cat "$emulator_out" "$emulator_err")"
}

# Stops the emulator as Ctrl-C would (under Wine SIGTERM would end it as TerminateProcess does);
# fails unless it ends cleanly.
tol_stop_emulator() {
    tol_stop "$emulator" "the emulator" "$emulator_err"
}

# Stops process $1 (what it is, $2, with its errors in file $3), which must end with code 0.
# Under Wine SIGINT comes as Ctrl-C; SIGTERM would end it as TerminateProcess.
tol_stop() {
    local code
    if [ "$wine" = 1 ]; then kill -INT "$1"; else kill -TERM "$1"; fi
    wait "$1" && code=0 || code=$?
    tol_forget "$1"
    [ $code -eq 0 ] || fail "$2 ended with $code: $(cat "$3")"
}

# Takes process $1, which has ended, off the list of those to end.
tol_forget() {
    local pid kept=()
    for pid in "${tol_pids[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
    tol_pids=("${kept[@]}")
}

# The benchmarks' timing: the clock in nanoseconds; milliseconds from nanoseconds (divided by
# $2), with two decimals; the ratio $1/$2 with two decimals.
now_ns() { date +%s%N; }
ms() { awk -v ns="$1" -v n="${2:-1}" 'BEGIN { printf "%.2f", ns / n / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
