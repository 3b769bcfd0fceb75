#!/usr/bin/python3
"""Checks the examples of docs/profiles.md against the real tolctl and docs/profile.schema.json.

Each example is a fenced block after a marker comment:
  <!-- example: profile NAME -->             a profile: tolctl and the schema take it, it applies
                                             (--dry-run, and to a tolctl listen on loopback)
  <!-- example: invalid "MESSAGE" -->        tolctl refuses it with MESSAGE, the schema refuses it
  <!-- example: incomplete "MESSAGE" -->     tolctl refuses it alone (overrides could complete it)
  <!-- example: targets NAME profile=P -->   a targets file that applies (--dry-run) with profile P
  <!-- example: dry-run T profile=P -->      its lines come, in order, in apply P --targets T --dry-run
  <!-- example: report -->                   has the keys of a real --report
Every json block of the page must be one of them. The schema and the table of keys are tolctl's
own: docs/profile.schema.json must be what `tolctl profile schema` prints, byte for byte, and the
page's part between "<!-- tolctl profile keys" and "<!-- end of tolctl profile keys -->" what
`tolctl profile keys` prints. Usage: profile_docs.py TOLCTL DOCS_DIR
"""
import json
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile
import time

try:
    import jsonschema
except ImportError:  # the schema's keys are still compared with tolctl's by ProfileTest
    jsonschema = None

tolctl, docs = sys.argv[1], sys.argv[2]
failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def run(args, cwd):
    # The fleet record in the work folder, never the user's.
    env = dict(os.environ, TOLCTL_RECORD=os.path.join(cwd, "record.sqlite"))
    return subprocess.run([tolctl] + args, cwd=cwd, capture_output=True, text=True, timeout=60, env=env)


def examples(page):
    """(marker words, language, text) of each marked block; fails on unmarked json blocks."""
    found = []
    marker = None
    lines = page.split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        m = re.match(r"<!-- example: (.*) -->$", line)
        if m:
            marker = shlex.split(m.group(1))
        elif line.startswith("```") and len(line) > 3:
            language = line[3:].strip()
            end = lines.index("```", i + 1)
            text = "\n".join(lines[i + 1:end]) + "\n"
            if marker is not None:
                found.append((marker, language, text))
            elif language == "json":
                fail("a json block at line %d of profiles.md has no example marker" % (i + 1))
            marker = None
            i = end
        elif line.strip():
            marker = None
        i += 1
    return found


def decoded(dry_run_output):
    return [line[4:] for line in dry_run_output.split("\n") if line.startswith("    ")]


class Listener:
    """A tolctl listen on a free loopback port: the printer for the examples."""

    def __init__(self, cwd):
        self.out = open(os.path.join(cwd, "listen.out"), "w+")
        self.process = subprocess.Popen([tolctl, "listen", "--port", "0", "--idle-timeout", "5"],
                                        stdout=self.out, stderr=subprocess.STDOUT, cwd=cwd)
        self.port = None
        for _ in range(100):
            self.out.seek(0)
            m = re.search(r"listening on 127\.0\.0\.1:(\d+)", self.out.read())
            if m:
                self.port = m.group(1)
                break
            time.sleep(0.05)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)
        self.out.seek(0)
        return self.out.read().split("\n")[1:]


def generated(page_path, schema_path):
    """The committed copies of what tolctl writes are what it writes."""
    with open(schema_path, "rb") as f:
        committed = f.read()
    printed = subprocess.run([tolctl, "profile", "schema"], capture_output=True, timeout=60).stdout
    if committed != printed:
        fail("docs/profile.schema.json is not what `tolctl profile schema` prints; "
             "scripts/write-profile-docs.py writes it again")
    with open(page_path) as f:
        page = f.read()
    m = re.search(r"<!-- tolctl profile keys[^\n]*-->\n(.*?)<!-- end of tolctl profile keys -->", page, re.S)
    table = subprocess.run([tolctl, "profile", "keys"], capture_output=True, text=True, timeout=60).stdout
    if m is None or m.group(1) != table:
        fail("the table of keys in profiles.md is not what `tolctl profile keys` prints; "
             "scripts/write-profile-docs.py writes it again")


def main():
    generated(os.path.join(docs, "profiles.md"), os.path.join(docs, "profile.schema.json"))
    with open(os.path.join(docs, "profile.schema.json")) as f:
        schema = json.load(f)
    validator = None
    if jsonschema is not None:
        jsonschema.Draft202012Validator.check_schema(schema)
        validator = jsonschema.Draft202012Validator(schema)

    def schema_takes(profile_text):
        return validator is None or validator.is_valid(json.loads(profile_text))

    with open(os.path.join(docs, "profiles.md")) as f:
        page = f.read()
    work = tempfile.mkdtemp(prefix="tol-profile-docs-")
    with open(os.path.join(work, "wifi.pw"), "w") as f:
        f.write("pass word\n")
    counts = {}
    report_keys = None
    for marker, language, text in examples(page):
        kind = marker[0]
        counts[kind] = counts.get(kind, 0) + 1
        if kind == "profile":
            name = marker[1]
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
            if not schema_takes(text):
                fail("%s: the schema refuses it" % name)
            dry = run(["apply", name, "--target", "socket://127.0.0.1:9", "--dry-run"], work)
            if dry.returncode != 0:
                fail("%s: --dry-run exited %d: %s" % (name, dry.returncode, dry.stderr))
                continue
            listener = Listener(work)
            if listener.port is None:
                fail("%s: the listener did not start" % name)
                continue
            sent = run(["apply", name, "--target", "socket://127.0.0.1:" + listener.port, "--gap", "0",
                        "--report", "report.json"], work)
            received = [line for line in listener.stop() if line]
            if sent.returncode != 0:
                fail("%s: apply exited %d: %s%s" % (name, sent.returncode, sent.stdout, sent.stderr))
            planned = decoded(dry.stdout)
            # What arrived is what --dry-run showed, the password aside (hidden there).
            shown = [re.sub(r' password="[^"]*"', " password=(hidden)", line) for line in received]
            if shown != planned:
                fail("%s: the listener got %s, --dry-run showed %s" % (name, received, planned))
            with open(os.path.join(work, "report.json")) as f:
                report = json.load(f)
            report_keys = (set(report), set(report["results"][0]), set(report["results"][0]["commands"][0]))
        elif kind in ("invalid", "incomplete"):
            message = marker[1]
            with open(os.path.join(work, "bad.json"), "w") as f:
                f.write(text)
            refused = run(["apply", "bad.json", "--target", "socket://127.0.0.1:9", "--dry-run"], work)
            if refused.returncode != 2 or message not in refused.stderr:
                fail("%s: expected exit 2 and '%s', got %d: %s" % (text.strip(), message, refused.returncode,
                                                                   refused.stderr))
            if kind == "invalid" and schema_takes(text):
                fail("%s: the schema takes it" % text.strip())
        elif kind == "targets":
            name = marker[1]
            profile = marker[2].split("=", 1)[1]
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
            dry = run(["apply", profile, "--targets", name, "--dry-run"], work)
            if dry.returncode != 0:
                fail("%s: --dry-run exited %d: %s" % (name, dry.returncode, dry.stderr))
        elif kind == "dry-run":
            profile = marker[2].split("=", 1)[1]
            dry = run(["apply", profile, "--targets", marker[1], "--dry-run"], work)
            shown = dry.stdout.split("\n")
            at = 0
            for line in text.rstrip("\n").split("\n"):
                while at < len(shown) and shown[at] != line:
                    at += 1
                if at == len(shown):
                    fail("dry-run of %s: no line '%s' in its place" % (marker[1], line))
                    break
        elif kind == "report":
            shown = json.loads(text)
            counts["report-text"] = (set(shown), set(shown["results"][0]),
                                     set(shown["results"][0]["commands"][0]))
        else:
            fail("unknown example kind " + kind)
    if report_keys is not None and counts.get("report-text") != report_keys:
        fail("the report shown has keys %s, a real one %s" % (counts.get("report-text"), report_keys))

    # The example profile tolctl prints.
    example = run(["profile", "example"], work)
    with open(os.path.join(work, "example.json"), "w") as f:
        f.write(example.stdout)
    if not schema_takes(example.stdout):
        fail("the schema refuses `tolctl profile example`")
    if run(["apply", "example.json", "--target", "socket://127.0.0.1:9", "--dry-run"], work).returncode != 0:
        fail("`tolctl profile example` does not load")

    # The schema and tolctl agree on values beyond the page's.
    agreed = [
        ('{"//x": 1, "wifi-ap": {"name": "x", "mode": "APSTA"}, "lan": {"dhcp": "ON", "mac": "158.34.86.28"}}', True),
        ('{"lan": {"mac": "9e-22-56-1c", "ip": "10.0.0.254", "dhcp": true}, "after": []}', True),
        ('{"wifi-station": {"ssid": "s", "ip": "1.2.3.4", "gateway": "1.2.3.1", "auth": "1", "enc": "WEP-A"}}', True),
        ('{"lan": {"ip": "010.0.0.1"}}', False),
        ('{"lan": {"ip": "0.0.0.0"}}', False),
        ('{"lan": {"mask": "255.0.255.0"}}', False),
        ('{"bt-name": "' + 64 * 'n' + '"}', False),
        ('{"bt-pin": ""}', False),
        ('{"wifi-station": {"ssid": "s", "password": "1234567", "ip": "1.2.3.4", "gateway": "1.2.3.1"}}', False),
        ('{"wifi-ap": {"name": "x", "mode": "3"}}', False),
        ('{"lan": {"mac": "9E:22:56"}}', False),
        ('{"lan": {"mac": "9E:22-56:1C"}}', False),
        ('{"lan": {"ip": "127.1"}}', False),
        ('{"lan": {"ip": "1.2.3.256"}}', False),
        ('{"lan": {"dhcp": "maybe"}}', False),
        ('{"lan": {"dhcp": 1}}', False),
        ('{"after": ["dance"]}', False),
        ('{"after": "cut"}', False),
        ('{"wifi-station": {"password": "a", "password-file": "wifi.pw"}}', False),
        ('{"wifi-station": {"auth": "wpa3"}}', False),
        ('{"bt-name": null}', False),
        ('{"x": 1}', False),
        ('{"lan": {"x": 1}}', False),
        ('[]', False),
    ]
    for text, valid in agreed:
        with open(os.path.join(work, "case.json"), "w") as f:
            f.write(text)
        code = run(["apply", "case.json", "--target", "socket://127.0.0.1:9", "--dry-run"], work).returncode
        if (code == 0) != valid:
            fail("tolctl %s %s" % ("refuses" if valid else "takes", text))
        if validator is not None and schema_takes(text) != valid:
            fail("the schema %s %s" % ("refuses" if valid else "takes", text))

    for kind, least in (("profile", 3), ("invalid", 3), ("incomplete", 1), ("targets", 1), ("report", 1)):
        if counts.get(kind, 0) < least:
            fail("profiles.md has %d '%s' examples, expected at least %d" % (counts.get(kind, 0), kind, least))
    subprocess.run(["rm", "-rf", work])
    print("%d examples checked%s; %d failures" % (sum(v for k, v in counts.items() if k != "report-text"),
                                                  "" if validator else " (no jsonschema: schema not used)",
                                                  len(failures)))
    return 1 if failures else 0


sys.exit(main())
