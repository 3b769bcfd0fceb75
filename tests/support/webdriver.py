"""A small WebDriver client for headless Chromium: chromedriver spoken to over plain HTTP and
JSON, on 127.0.0.1 only. Shared by the browser tests (tests/browser)."""
import json
import socket
import subprocess
import time
import urllib.error
import urllib.request

BROWSER_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync"]
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
SHIFT, END, HOME, ENTER, ESCAPE = "\ue008", "\ue010", "\ue011", "\ue007", "\ue00c"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class WebDriver:
    def __init__(self, user_data_dir, window="1300,1100"):
        self.port = free_port()
        self.process = subprocess.Popen(["chromedriver", f"--port={self.port}"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.base = f"http://127.0.0.1:{self.port}"
        for _ in range(100):
            try:
                self.call("GET", "/status")
                break
            except OSError:
                time.sleep(0.1)
        args = BROWSER_FLAGS + [f"--window-size={window}", f"--user-data-dir={user_data_dir}"]
        caps = {"browserName": "chrome",
                "goog:chromeOptions": {"binary": "/usr/bin/chromium", "args": args}}
        self.session = self.call("POST", "/session", {"capabilities": {"alwaysMatch": caps}})["sessionId"]

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as answer:
                return json.loads(answer.read())["value"]
        except urllib.error.HTTPError as error:  # WebDriver's errors come as JSON too
            value = json.loads(error.read() or b"{}").get("value", {})
            raise RuntimeError(f"{method} {path}: {value.get('error')}: {value.get('message', '')[:300]}") from None

    def run(self, method, path, body=None):
        return self.call(method, f"/session/{self.session}{path}", body)

    def script(self, source, *args):
        return self.run("POST", "/execute/sync", {"script": source, "args": list(args)})

    def actions(self, actions):
        self.run("POST", "/actions", {"actions": actions})
        self.run("DELETE", "/actions")

    def find(self, css):
        return self.run("POST", "/element", {"using": "css selector", "value": css})[ELEMENT]

    def click(self, css):
        self.run("POST", f"/element/{self.find(css)}/click", {})

    def type(self, css, text, clear=True):
        element = self.find(css)
        if clear:
            self.run("POST", f"/element/{element}/clear", {})
        self.run("POST", f"/element/{element}/value", {"text": text})

    def wait(self, source, what, seconds=60, *args):
        """Runs the script until it returns something true; returns that."""
        deadline = time.monotonic() + seconds
        while True:
            value = self.script(source, *args)
            if value:
                return value
            if time.monotonic() > deadline:
                raise TimeoutError(f"waited {seconds} s for {what}; last: {value!r}")
            time.sleep(0.1)

    def close(self):
        try:
            self.run("DELETE", "")
        finally:
            self.process.terminate()
            self.process.wait(10)


def pointer_click(x, y):
    return [{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"}, "actions": [
        {"type": "pointerMove", "duration": 0, "origin": "viewport", "x": int(x), "y": int(y)},
        {"type": "pointerDown", "button": 0}, {"type": "pause", "duration": 80},
        {"type": "pointerUp", "button": 0}]}]


def keys(text, shifted=""):
    """Key presses, one per character of `text`; those in `shifted` with Shift held."""
    steps = []
    for key in text:
        press = [{"type": "keyDown", "value": key}, {"type": "keyUp", "value": key}]
        if key in shifted:
            press = [{"type": "keyDown", "value": SHIFT}] + press + [{"type": "keyUp", "value": SHIFT}]
        steps += press + [{"type": "pause", "duration": 40}]
    return [{"type": "key", "id": "keyboard", "actions": steps}]
