#!/usr/bin/env bash
# Console benchmark: `tolctl console` beside the command line, both against one emulator of 256
# printers on loopback (`tolctl listen --bind NETWORK`). Measures the time to the first answer of
# the console's page (GET / with the token's cookie: the page load), and the same apply of a
# profile of 6 settings to every printer (--jobs 32 --gap 0) through the console's API (POST
# /api/apply, then its event stream read to the end, i.e. until the job is done) and through
# `tolctl apply`, and prints the times and their ratio. Five runs of each, alternating; the best
# of each counts. Checks that every printer ended ok both ways. Only loopback addresses.
# Usage: bench/console.sh [NETWORK]   (default 127.64.0.0/24)
# TOLCTL=PATH measures that tolctl instead of building build/release.
set -euo pipefail
cd "$(dirname "$0")/.."
net=${1:-127.64.0.0/24}
case $net in
127.*) ;;
*) echo "console: only loopback networks (127.0.0.0/8)" >&2; exit 2 ;;
esac
tolctl=${TOLCTL:-$(bench/release.sh)}
source tests/support/lib.sh
tol_begin tol-bench "$tolctl"

cat >"$work/profile.json" <<'JSON'
{
  "wifi-ap": {"name": "Shop Printer", "mode": "ap"},
  "bt-name": "Printer",
  "bt-pin": "6042",
  "lan": {"mask": "255.255.255.0", "gateway": "192.168.1.1", "mac": "9E:22:56:1C"}
}
JSON
tol_listen --port 0 --bind "$net" --idle-timeout 30
tol_start console '^console on ' console --no-browser --listen 127.0.0.1:0 --state-dir "$work/state"
url=${started_line#console on }

/usr/bin/python3 - "$tolctl" "$url" "$net" "$port" "$work" <<'PY'
import http.client, json, subprocess, sys, time, urllib.parse
tolctl, url, net, port, work = sys.argv[1:]
parts = urllib.parse.urlsplit(url)
token = urllib.parse.parse_qs(parts.query)["token"][0]
target = "socket://%s:%s" % (net, port)
profile = json.load(open(work + "/profile.json"))
runs = 5

def connect():
    return http.client.HTTPConnection(parts.hostname, parts.port, timeout=120)

def page_load():
    """Seconds from the request of / to the first byte of its answer (a new connection)."""
    conn = connect()
    start = time.perf_counter()
    conn.request("GET", "/", headers={"Cookie": "tolctl_console_%d=%s" % (parts.port, token)})
    answer = conn.getresponse()
    first = time.perf_counter() - start
    body = answer.read()
    if answer.status != 200 or b"<html" not in body:
        sys.exit("console: the page was not served: %d" % answer.status)
    return first

def console_apply():
    start = time.perf_counter()
    conn = connect()
    conn.request("POST", "/api/apply", json.dumps({"profile": profile, "targets": [target], "gap": 0}),
                 {"Authorization": "Bearer " + token, "Content-Type": "application/json"})
    answer = conn.getresponse()
    body = json.loads(answer.read())
    if answer.status != 200:
        sys.exit("console: apply refused: %s" % body)
    conn.request("GET", "/api/jobs/%s/events" % body["job"], headers={"Authorization": "Bearer " + token})
    events = conn.getresponse().read().decode()
    seconds = time.perf_counter() - start
    done = json.loads(events[events.rindex("data: ") + 6:])
    if done["failed"] + done["interrupted"] != 0:
        sys.exit("console: not every printer ok: %s" % done)
    return seconds, done["ok"]

def cli_apply():
    start = time.perf_counter()
    run = subprocess.run([tolctl, "apply", work + "/profile.json", "--target", target, "--jobs", "32", "--gap", "0"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    seconds = time.perf_counter() - start
    if run.returncode != 0:
        sys.exit("console: tolctl apply failed: " + run.stderr[:2000])
    return seconds, run.stdout.count("  ok  ")

loads = sorted(page_load() for _ in range(20))
best = {"console": None, "cli": None}
for run in range(runs):
    for name, apply in (("cli", cli_apply), ("console", console_apply)):
        seconds, ok = apply()
        print("run %d: %s apply: %d printers ok in %.3f s" % (run + 1, name, ok, seconds))
        best[name] = seconds if best[name] is None else min(best[name], seconds)
print("page load (GET /, first byte): best %.2f ms, median %.2f ms of %d" % (loads[0] * 1e3, loads[len(loads) // 2] * 1e3, len(loads)))
print("apply of 256 printers: console %.3f s, tolctl apply %.3f s; ratio console/command line %.2f"
      % (best["console"], best["cli"], best["console"] / best["cli"]))
PY
