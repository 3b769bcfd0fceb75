# Shared by the benchmark scripts: a work folder, an emulator on a free port, timing.
# Only loopback addresses are ever used.

work=$(mktemp -d /tmp/tol-bench.XXXXXX)
emulators=()
bench_cleanup() {
    local pid
    for pid in "${emulators[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap bench_cleanup EXIT

# Starts `$tolctl listen --port PORT ARGS...` on the first port from $1 on that it can have (the
# port a benchmark names may be taken by another run); sets $port.
start_emulator() {
    local first=$1 try out
    shift
    for try in $(seq 0 20); do
        port=$((first + try * 7))
        out=$work/listen-$port.out
        "$tolctl" listen --port "$port" "$@" >"$out" 2>&1 &
        local pid=$!
        for _ in $(seq 100); do
            grep -q '^listening on' "$out" && { emulators+=("$pid"); return 0; }
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.02
        done
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    echo "bench: no emulator would start: $(cat "$out")" >&2
    exit 1
}

now_ns() { date +%s%N; }
# Milliseconds from nanoseconds, with two decimals.
ms() { awk -v ns="$1" -v n="${2:-1}" 'BEGIN { printf "%.2f", ns / n / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
