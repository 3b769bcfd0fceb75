#!/usr/bin/env python3
"""The roll-out to many shops (deploy/ansible), run as an operator would, against two shops on
loopback: ansible-playbook with a local connection, two hosts, each the Linux host of a shop whose
printers are one tolctl emulator on that shop's own network (127.0.11.0/29 and 127.0.12.0/29, with
--state). The Wi-Fi password comes from an Ansible Vault. One printer of the south shop refuses
connections.

The north shop takes its printers from the chain's spreadsheet, which lists both shops' rows (the
south's with the north's static addresses, as shops that reuse one private network have them),
by its label (tolctl_shop); the south shop from lines of its own.

Checks: the play fails for the south shop only; both reports are fetched and say what each printer
got; every good printer's state (as the emulator received it) is the profile with its target's
values, the password included; the password is nowhere in the play's output, the reports, the
records or the hosts' working folders afterwards; the .deb was unpacked into each host's root, not
installed. Then a run in check mode shows what the printers lack and sends nothing, and a rerun
sends nothing (--skip-same), both reporting no change, the rerun's report kept beside the first;
the chain's record on the controller (each shop's record imported) tells by `record diff` which
printers have the password and which lack the next one.

Usage: check-ansible.py TOLCTL_DEB EMULATOR_TOLCTL SOURCE_DIR"""
import json
import os
import secrets
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import tol  # noqa: E402

SHOPS = {"loop-north": "127.0.11", "loop-south": "127.0.12"}
PRINTERS = range(1, 7)  # .1 to .6 of each /29
REFUSING = "127.0.12.5"


def targets(net):
    lines = []
    for n in PRINTERS:
        lines.append(f"socket://{net}.{n} lan.ip={net}.{n} lan.gateway={net}.254 "
                     f"wifi-station.ip={net}.{100 + n} wifi-station.gateway={net}.254 bt-name=Till-{n}")
    return lines


def main():
    deb, tolctl, source = sys.argv[1:4]
    ansible_dir = os.path.join(source, "deploy", "ansible")
    scratch = tempfile.mkdtemp(prefix="tol-ansible.")
    emulators = []
    try:
        password = "vault-" + secrets.token_hex(8)
        # The shops' printers.
        for host, net in SHOPS.items():
            command = [tolctl, "listen", "--bind", f"{net}.0/29", "--port", "9100",
                       "--state", os.path.join(scratch, f"{host}-state.json")]
            if host == "loop-south":
                command += ["--fault", f"{REFUSING}=refuse"]
            emulators.append(tol.Serving(command, scratch, f"{host}-listen"))

        # The inventory: two hosts of the group shops, reached locally, each with its own root,
        # working folder and targets.
        inventory = {"shops": {"hosts": {}, "vars": {
            "ansible_connection": "local", "ansible_python_interpreter": sys.executable,
            "tolctl_deb": deb, "tolctl_report_dir": os.path.join(scratch, "reports"),
            "tolctl_record_dir": os.path.join(scratch, "records"),
            "tolctl_chain_record": os.path.join(scratch, "records", "chain.sqlite"),
            "tolctl_controller_program": tolctl,
            "tolctl_apply_gap_ms": 0, "tolctl_apply_connect_timeout": 2}}}
        for host, net in SHOPS.items():
            inventory["shops"]["hosts"][host] = {
                "tolctl_install_root": os.path.join(scratch, host, "root"),
                "tolctl_workdir": os.path.join(scratch, host, "work"),
                "tolctl_targets": targets(net)}
        # The chain's spreadsheet: every shop's rows, the south's reusing the north's addresses.
        chain = os.path.join(scratch, "chain.csv")
        with open(chain, "w") as out:
            out.write("target,label.shop,lan.ip,lan.gateway,wifi-station.ip,wifi-station.gateway,bt-name\n")
            for host, net in SHOPS.items():
                for line in targets(net):
                    words = dict(word.split("=", 1) for word in line.split()[1:])
                    words = {k: v.replace(net, SHOPS["loop-north"]) for k, v in words.items()}
                    out.write(",".join([line.split()[0], host] + list(words.values())) + "\n")
        del inventory["shops"]["hosts"]["loop-north"]["tolctl_targets"]
        inventory["shops"]["hosts"]["loop-north"].update(tolctl_targets_file=chain, tolctl_shop="loop-north")
        os.makedirs(os.path.join(scratch, "group_vars", "shops"))
        with open(os.path.join(scratch, "inventory.yml"), "w") as out:
            json.dump(inventory, out)  # JSON is YAML
        vault = os.path.join(scratch, "group_vars", "shops", "vault.yml")
        with open(vault, "w") as out:
            out.write(f"vault_tolctl_wifi_password: {password}\n")
        with open(os.path.join(scratch, "vault-pass"), "w") as out:
            out.write(secrets.token_hex(16) + "\n")
        env = dict(os.environ, ANSIBLE_CONFIG=os.path.join(ansible_dir, "ansible.cfg"),
                   ANSIBLE_HOME=os.path.join(scratch, "ansible-home"),
                   ANSIBLE_LOCAL_TEMP=os.path.join(scratch, "ansible-tmp"),
                   ANSIBLE_NOCOLOR="1", ANSIBLE_FORCE_COLOR="0", ANSIBLE_STDOUT_CALLBACK="default",
                   TOLCTL_RECORD=os.path.join(scratch, "record.sqlite"))  # never the user's record
        subprocess.run(["ansible-vault", "encrypt", "--vault-password-file", os.path.join(scratch, "vault-pass"),
                        vault], env=env, check=True, capture_output=True)
        if password in open(vault).read():
            tol.fail("the vault file holds the password in the clear")

        def run_play(name, *extra):
            started = time.monotonic()
            play = subprocess.run(["ansible-playbook", "-v", "-i", os.path.join(scratch, "inventory.yml"),
                                   "--vault-password-file", os.path.join(scratch, "vault-pass"), *extra,
                                   os.path.join(ansible_dir, "playbook.yml")],
                                  env=env, capture_output=True, text=True, timeout=300)
            output = play.stdout + play.stderr
            open(os.path.join(scratch, f"{name}.log"), "w").write(output)
            print(f"ansible-playbook ({name}) took {time.monotonic() - started:.1f} s, exit code {play.returncode}")
            if password in output:
                tol.fail(f"{name}: the password is in the play's output")
            recap = {line.split()[0]: line for line in output.split("PLAY RECAP", 1)[-1].splitlines() if ":" in line}
            return play, output, recap

        def connections():
            time.sleep(1.2)  # the emulators write their state at most every 500 ms
            return sum(p["connections"] for host in SHOPS
                       for p in json.load(open(os.path.join(scratch, f"{host}-state.json")))["printers"].values())

        play, output, recap = run_play("play")
        if play.returncode != 2:
            tol.fail(f"ansible-playbook exit code {play.returncode}, not 2 (a host failed)")
        if "failed=0" not in recap.get("loop-north", ""):
            tol.fail(f"the north shop failed: {recap.get('loop-north')}")
        if "failed=1" not in recap.get("loop-south", ""):
            tol.fail(f"the south shop did not fail: {recap.get('loop-south')}")
        if f"socket://{REFUSING}" not in output:
            tol.fail("the play's failure does not name the refusing printer")
        if "changed=0" in recap.get("loop-north", "changed=0"):
            tol.fail(f"the north shop's printers were sent the profile, yet no change: {recap.get('loop-north')}")

        # Check mode: what the printers lack, nothing sent, no change; a rerun sends nothing more.
        before = connections()
        play, output, recap = run_play("check", "--check")
        if play.returncode != 0 or any("changed=0" not in recap.get(host, "") for host in SHOPS):
            tol.fail(f"check mode: exit code {play.returncode}, {recap}")
        if f"socket://{REFUSING}  wifi-station.password  never-set" not in output:
            tol.fail("check mode does not show what the refusing printer lacks")
        play, output, recap = run_play("rerun")
        if play.returncode != 2 or any("changed=0" not in recap.get(host, "") for host in SHOPS):
            tol.fail(f"the rerun: exit code {play.returncode}, {recap}")
        if connections() != before:
            tol.fail(f"check mode or the rerun contacted printers: {before} connections before, {connections()} after")

        for emulator in emulators:
            emulator.stop()

        for host, net in SHOPS.items():
            root = os.path.join(scratch, host, "root")
            if not os.access(os.path.join(root, "usr", "bin", "tolctl"), os.X_OK):
                tol.fail(f"{host}: tolctl was not unpacked into its root")
            work = os.path.join(scratch, host, "work")
            for folder, _, names in os.walk(work):
                for name in names:
                    if password.encode() in open(os.path.join(folder, name), "rb").read():
                        tol.fail(f"{host}: {name} in the working folder holds the password")
            if oct(os.stat(work).st_mode & 0o777) != "0o700":
                tol.fail(f"{host}: the working folder is readable by others")

            reports = sorted(name for name in os.listdir(os.path.join(scratch, "reports")) if name.startswith(host))
            if len(reports) != 2:
                tol.fail(f"{host}: not one dated report for each run: {reports}")
                continue
            if password in open(os.path.join(scratch, "records", f"{host}.jsonl")).read():
                tol.fail(f"{host}: the record's export holds the password")
            report_text = open(os.path.join(scratch, "reports", reports[0])).read()
            if password in report_text:
                tol.fail(f"{host}: the report holds the password")
            report = json.loads(report_text)
            results = {r["target"]: r for r in report["results"]}
            state = json.load(open(os.path.join(scratch, f"{host}-state.json")))["printers"]
            for n in PRINTERS:
                address = f"{net}.{n}"
                result = results.get(f"socket://{address}")
                if result is None:
                    tol.fail(f"{host}: the report lacks {address}")
                    continue
                if address == REFUSING:
                    if result["result"] != "failed" or result["sent"] != 0:
                        tol.fail(f"{host}: {address} refuses, yet the report says {result}")
                    continue
                if result["result"] != "ok" or result["sent"] != result["settings"]:
                    tol.fail(f"{host}: {address}: {result}")
                got = state.get(f"{address}:9100", {})
                want = {
                    "wifi-station": {"ssid": "Shop", "password": password, "auth": "wpa2psk", "enc": "aes",
                                     "ip": f"{net}.{100 + n}", "mask": "255.255.255.0", "gateway": f"{net}.254"},
                    "bt-name": f"Till-{n}", "bt-pin": "6042",
                    "lan": {"ip": address, "mask": "255.255.255.0", "gateway": f"{net}.254", "dhcp": False},
                }
                for key, value in want.items():
                    if got.get(key) != value:
                        tol.fail(f"{host}: {address} {key} is {got.get(key)!r}, not {value!r}")
                if got.get("counts", {}).get("test-print") != 1:
                    tol.fail(f"{host}: {address} printed {got.get('counts', {}).get('test-print')} test pages, not 1")
            print(f"{host}: report {report['ok']} ok, {report['failed']} failed of {report['printers']}")

        # The chain's record: which printers have the password (all but the refusing one), and
        # which still lack the next one (all of them), by the README's command.
        chain = os.path.join(scratch, "chain")
        os.makedirs(chain)
        shutil.copy(os.path.join(ansible_dir, "files", "profile.json"), chain)
        for secret, wanted in ((password, "same"), ("next-" + password, "differs")):
            with open(os.path.join(chain, "wifi.pw"), "w") as out:
                out.write(secret + "\n")
            # Shop by shop: the north's targets are the chain's spreadsheet, its rows by their label.
            states, codes = {}, []
            for host in SHOPS:
                listed = os.path.join(scratch, "records", f"{host}-targets.txt")
                selection = []
                if not os.path.exists(listed):
                    listed = os.path.join(scratch, "records", f"{host}-targets.csv")
                    selection = ["--label", f"shop={host}"]
                diff = subprocess.run([tolctl, "--record", os.path.join(scratch, "records", "chain.sqlite"),
                                       "record", "diff", os.path.join(chain, "profile.json"), "--targets",
                                       listed, "--format", "json"] + selection, capture_output=True, text=True)
                codes.append(diff.returncode)
                states.update({row["target"]: row["state"] for row in json.loads(diff.stdout or "[]")
                               if row["setting"] == "wifi-station.password"})
                if diff.returncode not in (0, 1):
                    tol.fail(f"{host}: record diff: exit code {diff.returncode}, {diff.stderr}")
            states = {target.replace("socket://", ""): state for target, state in states.items()}
            expected = {f"{net}.{n}": "never-set" if f"{net}.{n}" == REFUSING else wanted
                        for net in SHOPS.values() for n in PRINTERS}
            if 1 not in codes or states != expected:
                tol.fail(f"the chain's record diff: exit codes {codes}, {states}")
    finally:
        for emulator in emulators:
            emulator.kill()
        if tol.failures:
            print(f"(the plays' output is kept in {scratch}/play.log, check.log and rerun.log)")
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    return tol.finish(f"{len(tol.failures)} failures")


if __name__ == "__main__":
    sys.exit(main())
