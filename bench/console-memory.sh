#!/usr/bin/env bash
# Console memory: one apply through `POST /api/apply` to 65,536 refused printers (a /16 of loopback
# addresses where nothing listens), its event stream read to the end, then `GET /api/jobs/1` once
# and six at once; beside `tolctl apply --report` of the same roll-out (release build). Prints the
# console's peak RSS after each step and the times, and fails when the console's peak is more than
# twice the command line's (its report is kept on disk and streamed, never whole in memory).
# Only loopback networks. Usage: bench/console-memory.sh [A.B]   (default 127.61: 127.61.0.0/16)
set -euo pipefail
cd "$(dirname "$0")/.."
net=${1:-127.61}
case $net in
127.*) ;;
*) echo "console-memory: only loopback networks (127.0.0.0/8)" >&2; exit 2 ;;
esac
tolctl=${TOLCTL:-$(bench/release.sh)}
source tests/support/lib.sh
tol_begin tol-bench "$tolctl"

/usr/bin/python3 - "$tolctl" "$net.0.0/16" "$work" <<'PY'
import http.client, json, re, resource, subprocess, sys, threading, time
sys.path.insert(0, "tests/support")
import tol
tolctl, network, work = sys.argv[1:]
target = "socket://%s:9" % network  # port 9 of unused loopback addresses: refused at once
# Eight settings, none of them a printer's own address (a static address belongs to one printer).
profile = {"wifi-ap": {"name": "Shop Printer", "mode": "ap"}, "bt-name": "Printer", "bt-pin": "6042",
           "lan": {"mask": "255.255.255.0", "gateway": "192.168.1.1", "dhcp": False}, "after": ["test-print", "cut"]}
json.dump(profile, open(work + "/profile.json", "w"))

def peak(pid):
    return int(re.search(r"VmHWM:\s+(\d+)", open("/proc/%d/status" % pid).read()).group(1)) // 1024

start = time.monotonic()
subprocess.run([tolctl, "apply", work + "/profile.json", "--target", target, "--report", work + "/report.json"],
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
cli = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024
print("tolctl apply --report: peak RSS %d MiB, %.1f s" % (cli, time.monotonic() - start))

console = tol.Serving([tolctl, "console", "--no-browser", "--listen", "127.0.0.1:0", "--state-dir", work + "/state"],
                      work, "console", r"http://127\.0\.0\.1:(\d+)/\?token=(\S+)")
try:
    port, token = console.match.groups()
    headers = {"Authorization": "Bearer " + token, "Content-Type": "application/json"}

    def fetch(method, path, body=None):
        conn = http.client.HTTPConnection("127.0.0.1", int(port), timeout=600)
        conn.request(method, path, body, headers)
        answer = conn.getresponse()
        return answer.status, answer.read()

    start = time.monotonic()
    status, body = fetch("POST", "/api/apply", json.dumps({"profile": profile, "targets": [target], "gap": 0}))
    if status != 200:
        sys.exit("console-memory: apply refused: %s" % body[:500])
    job = json.loads(body)["job"]
    fetch("GET", "/api/jobs/%s/events" % job)
    print("console apply (its events read to the end): peak RSS %d MiB, %.1f s" % (peak(console.process.pid), time.monotonic() - start))
    start = time.monotonic()
    status, body = fetch("GET", "/api/jobs/" + job)
    print("GET /api/jobs/%s (%d MiB): peak RSS %d MiB, %.2f s" % (job, len(body) >> 20, peak(console.process.pid), time.monotonic() - start))
    del body
    start = time.monotonic()
    got = []
    readers = [threading.Thread(target=lambda: got.append(fetch("GET", "/api/jobs/" + job)[0])) for _ in range(6)]
    for reader in readers:
        reader.start()
    for reader in readers:
        reader.join()
    most = peak(console.process.pid)
    print("six GET /api/jobs/%s at once (%s): peak RSS %d MiB, %.2f s" % (job, got, most, time.monotonic() - start))
finally:
    console.stop()
ratio = most / cli
print("ratio console/command line: %.2f (aim: <= 2.00)" % ratio)
sys.exit(0 if ratio <= 2.0 and got == [200] * 6 else 1)
PY
