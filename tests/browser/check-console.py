#!/usr/bin/env python3
"""tolctl console's page in headless Chromium, as a person would use it: four emulated printers
on loopback (127.0.0.41 reports paper-end, 127.0.0.42 resets every connection); the page, opened
with the console's token, scans their network, shows their states, takes a profile in its form
(checked by the server as it is typed), applies it, and fills the result table as the printers
finish. The emulator's state file must then hold the profile for every printer but the resetting
one. Writes OUT_DIR/console.png, the page at 1280x800.

Usage: check-console.py TOLCTL OUT_DIR"""
import base64
import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import tol  # noqa: E402
from tol import check  # noqa: E402
from webdriver import ENTER, ESCAPE, WebDriver, keys  # noqa: E402

GOOD, PAPER_END, RESET = ["127.0.0.40", "127.0.0.41", "127.0.0.43"], "127.0.0.41", "127.0.0.42"
ROWS = "return [...document.querySelectorAll(arguments[0] + ' tbody tr')].map(r => [r.dataset.target, " \
       "r.querySelector('.badge').dataset.state, r.innerText])"


def scenario(tolctl, out, work):
    state = os.path.join(work, "state.json")
    started, driver = [], None
    try:
        started.append(tol.Serving([tolctl, "listen", "--bind", "127.0.0.40-43", "--port", "0", "--state", state,
                                    "--fault", RESET + "=reset", "--condition", PAPER_END + "=paper-end"],
                                   out, "listen"))
        port = started[-1].port
        started.append(tol.Serving([tolctl, "console", "--no-browser", "--listen", "127.0.0.1:0", "--state-dir",
                                    os.path.join(work, "console")], out, "console", r"^console on (\S+)"))
        url = started[-1].match.group(1)
        driver = WebDriver(os.path.join(work, "chromium"))
        driver.run("POST", "/goog/cdp/execute", {"cmd": "Emulation.setDeviceMetricsOverride", "params": {
            "width": 1280, "height": 800, "deviceScaleFactor": 1, "mobile": False}})
        loading = time.monotonic()
        driver.run("POST", "/url", {"url": url})
        driver.wait("return document.readyState === 'complete' && document.querySelector('#status-time')", "the page")
        timing = driver.script("var n = performance.getEntriesByType('navigation')[0];"
                               " return [n.domContentLoadedEventEnd, n.loadEventEnd, n.transferSize];")
        print(f"the page loaded in {time.monotonic() - loading:.2f} s (WebDriver), DOMContentLoaded at "
              f"{timing[0]:.0f} ms, load at {timing[1]:.0f} ms; {timing[2]} bytes")
        check(driver.script("return location.search") == "", "the token stays in the address bar")

        # The scan, from the keyboard: the network typed, Enter submits.
        driver.type("#scan-port", port)
        driver.click("#scan-network")
        driver.actions(keys("127.0.0.40/30" + ENTER))
        driver.wait("return document.querySelectorAll('#printers tbody tr').length === 4", "four printers")
        rows = driver.wait(ROWS + ".filter(r => r[1] !== 'unknown').length === 4 && " + ROWS[7:], "their status",
                           20, "#printers")
        states = {r[0]: (r[1], r[2]) for r in rows}
        print("badges:", {t: s for t, (s, _) in states.items()})
        for address in GOOD:
            expected = "offline" if address == PAPER_END else "ok"
            got = states.get(f"socket://{address}:{port}", ("missing", ""))
            check(got[0] == expected, f"{address} shows {got[0]}, not {expected}")
        check("paper-end" in states.get(f"socket://{PAPER_END}:{port}", ("", ""))[1], "the paper-end printer's condition")
        check(states.get(f"socket://{RESET}:{port}", ("",))[0] in ("no-answer", "unreachable"), "the resetting printer is grey")

        # One printer's single commands, in a panel opened from its row: the drawer pulsed; Escape closes it.
        driver.click(f"#printers tr[data-target='socket://{GOOD[0]}:{port}'] button.commands")
        driver.wait("return document.querySelector('#commands-dialog').open && document.querySelector('#cmd-open-drawer')",
                    "the commands panel")
        check(driver.script("return document.querySelectorAll('#command-forms form').length === commandList.length"
                            " && commandList.length > 0"), "a form for each command")
        driver.click("#cmd-open-drawer button")
        driver.wait("return document.querySelector('#cmd-open-drawer output').textContent.startsWith('sent')", "sent")
        # A command that changes how the printer reads its input is sent only once confirmed.
        driver.click("#cmd-hex-mode button")
        named = driver.wait("return document.querySelector('#confirm-dialog').open &&"
                            " document.querySelector('#confirm-printers').innerText", "the confirmation")
        check(f"socket://{GOOD[0]}:{port}" in named, f"the confirmation names the printer: {named}")
        driver.click("#confirm-cancel")
        driver.wait("return document.querySelector('#cmd-hex-mode output').textContent === 'not sent'", "not sent")
        driver.actions(keys(ESCAPE))
        check(not driver.script("return document.querySelector('#commands-dialog').open"), "Escape closes the panel")

        # The profile in the form, checked as typed: a bad mask gets the server's message beside it.
        driver.click("#select-all")
        driver.type("#pf-lan-mask", "255.0.255.0")
        message = driver.wait("return document.querySelector('#pf-lan-mask-msg').textContent", "the mask's problem")
        check("255.0.255.0" in message and "lan.mask" not in message and not message.startswith("profile"),
              f"the mask's problem in the page's words: {message}")
        check(driver.script("return document.querySelector('#apply-button').disabled"), "no Apply while it has problems")
        driver.type("#pf-lan-mask", "255.255.255.0")
        driver.type("#pf-bt-name", "Till")
        driver.type("#pf-bt-pin", "4711")
        driver.type("#pf-wifi-ap-name", "Shop Printer")
        driver.click("#pf-after-cut")
        driver.wait("return document.querySelector('#check-state').className === 'ok'"
                    " && document.querySelectorAll('#preview details').length === 4", "the checked profile's preview")
        profile = json.loads(driver.script("return document.querySelector('#profile-json').value"))
        check(profile == {"lan": {"mask": "255.255.255.0"}, "bt-name": "Till", "bt-pin": "4711",
                          "wifi-ap": {"name": "Shop Printer"}, "after": ["cut"]}, f"the JSON beside the form: {profile}")
        preview = driver.script("return document.querySelector('#preview').innerText")
        check('bt-name "Till"' in preview and "cut" in preview, "the preview shows the commands decoded")

        # Apply: the resetting printer fails at once, the others take a gap between commands, so
        # the table is seen filling before it is full.
        driver.type("#apply-gap", "400")
        driver.click("#apply-button")
        seen = set()
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            seen.add(driver.script("return document.querySelectorAll('#results tbody tr').length"))
            if driver.script("return !document.querySelector('#report-download').hidden"):
                break
            time.sleep(0.05)
        rows = {r[0]: r[1] for r in driver.script(ROWS, "#results")}
        print("results:", rows, "row counts seen:", sorted(seen))
        check(any(0 < n < 4 for n in seen), "the result table filled as printers finished")
        check(rows == {f"socket://{a}:{port}": ("failed" if a == RESET else "ok") for a in GOOD + [RESET]},
              "each printer's result")
        check(driver.script("var p = document.querySelector('#progress'); return p.value === 4 && p.max === 4"),
              "the progress bar is full")
        downloads = os.path.join(work, "downloads")
        driver.run("POST", "/goog/cdp/execute", {"cmd": "Page.setDownloadBehavior", "params": {
            "behavior": "allow", "downloadPath": downloads}})
        driver.click("#report-download")
        # The browser may create the file before it has written it: wait until it reads whole.
        report = {}
        for _ in range(100):
            names = [n for n in os.listdir(downloads) if n.endswith(".json")] if os.path.isdir(downloads) else []
            try:
                report = json.load(open(os.path.join(downloads, names[0]))) if names else {}
            except json.JSONDecodeError:
                report = {}
            if report:
                break
            time.sleep(0.1)
        check(report.get("done") is True and len(report.get("results", [])) == 4, "the report downloaded")
        # A printer's record: what the apply sent it, from the fleet record.
        driver.click(f"#printers tr[data-target='socket://{GOOD[0]}:{port}'] button.record")
        driver.wait("return document.querySelector('#record-dialog').open", "the printer's record", 20)
        panel = driver.script("return document.querySelector('#record-body').innerText")
        check("bt-name\tTill" in panel and "\tsent" in panel, f"the printer's record: {panel[:300]!r}")
        driver.actions(keys(ESCAPE))
        # The past jobs, from the record: the apply above among them.
        driver.click("#past-jobs summary")
        jobs = driver.wait("return document.querySelector('#jobs tbody').innerText", "the past jobs", 20)
        check("\t4\t" in jobs, f"the past jobs list the apply: {jobs[:300]!r}")
        driver.script("window.scrollTo(0, 0)")
        with open(os.path.join(out, "console.png"), "wb") as picture:
            picture.write(base64.b64decode(driver.run("GET", "/screenshot")))
    finally:
        if driver:
            driver.close()
        for serving in started:
            serving.process.send_signal(signal.SIGTERM)
        for serving in started:
            try:
                check(serving.process.wait(10) == 0, f"{serving.name} ends on SIGTERM")
            except subprocess.TimeoutExpired:
                serving.kill()
                check(False, f"{serving.name} ends on SIGTERM")

    printers = json.load(open(state))["printers"]
    for address in GOOD:
        got = printers.get(f"{address}:{port}", {})
        check(got.get("bt-name") == "Till" and got.get("bt-pin") == "4711" and got.get("lan", {}).get("mask") ==
              "255.255.255.0" and got.get("wifi-ap", {}).get("name") == "Shop Printer" and
              got.get("counts", {}).get("cut") == 1, f"{address} holds the profile: {got}")
        check(got.get("counts", {}).get("open-drawer") == (address == GOOD[0]), f"{address}'s drawer pulses")
        check(not got.get("counts", {}).get("hex-mode"), f"{address} got no hex-mode")
    got = printers.get(f"{RESET}:{port}", {})
    check("bt-name" not in got and "wifi-ap" not in got, f"the resetting printer holds nothing: {got}")


def main():
    tolctl, out = sys.argv[1:3]
    os.makedirs(out, exist_ok=True)
    with tol.work_folder("tol-console") as work:
        scenario(tolctl, out, work)
    return tol.finish("FAIL" if tol.failures else "ok: the console's page scans, shows, checks, applies and reports")


if __name__ == "__main__":
    sys.exit(main())
