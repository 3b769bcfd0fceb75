#!/usr/bin/env bash
# tolctl.exe console under Wine: it prints its address and token, serves the API with the token
# (401 without it), reads the status of a tolctl.exe listen printer through it, keeps a profile
# in its state folder, and Ctrl-C ends it with exit code 0.
# Usage: wine_console.sh TOLCTL.exe
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../support/lib.sh"
tol_begin tol-wine-console "$1"

tol_listen --bind 127.0.2.70 --port 0

"${run[@]}" "$tolctl" console --no-browser --listen 127.0.0.1:0 --state-dir "$work/state" \
    </dev/null >"$work/console.out" 2>"$work/console.err" &
console=$!
tol_pids+=("$console")
url=
for _ in $(seq 400); do
    url=$(tr -d '\r' <"$work/console.out" | sed -n 's|^console on \(http://127\.0\.0\.1:[0-9]*/?token=[A-Za-z0-9_-]\{22\}\)$|\1|p')
    [ -n "$url" ] && break
    sleep 0.05
done
[ -n "$url" ] || fail "console did not start: $(cat "$work/console.out" "$work/console.err")"

python3 - "$url" "socket://127.0.2.70:$port" <<'PY' || fail "the console's API did not answer as it should"
import json, sys, urllib.error, urllib.parse, urllib.request
url, target = sys.argv[1:]
parts = urllib.parse.urlsplit(url)
token = urllib.parse.parse_qs(parts.query)["token"][0]
base = "http://%s:%d" % (parts.hostname, parts.port)

def ask(method, path, body=None, token=token):
    request = urllib.request.Request(base + path, method=method, data=None if body is None else json.dumps(body).encode())
    if token:
        request.add_header("Authorization", "Bearer " + token)
    try:
        with urllib.request.urlopen(request, timeout=30) as answer:
            return answer.status, answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.read().decode()

status, _ = ask("GET", "/api/printers", token=None)
assert status == 401, status
status, body = ask("POST", "/api/status", {"targets": [target]})
assert status == 200 and json.loads(body)[0]["state"] == "ok", body
status, body = ask("PUT", "/api/profiles/shop", {"bt-name": "Till 3"})
assert status == 200, body
status, body = ask("GET", "/api/profiles")
assert json.loads(body) == {"profiles": ["shop"]}, body
PY
[ -f "$work/state/profiles/shop.json" ] || fail "the profile was not kept in $work/state"
tol_stop "$console" console "$work/console.err"
echo "tolctl.exe console served its API and the status of a tolctl.exe listen printer at $url"
