"""The tests' Python module: every Python test script (tests/*/*.py) and the benchmarks' Python
(bench/*.sh) use it for their work folder, for running tolctl, for a tolctl that serves (the
emulator `tolctl listen`, the console, the monitor) started and awaited, and for failures.

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
    import tol  # noqa: E402

Only loopback addresses; files only under the work folder."""
import atexit
import contextlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

failures = []


def fail(message):
    """Records a failure and says it at once."""
    failures.append(message)
    print("FAIL " + message, flush=True)


def check(ok, message):
    if not ok:
        fail(message)


def finish(summary):
    """Prints the summary line; answers the exit code: 1 when anything failed."""
    print(summary)
    return 1 if failures else 0


def _keep_record_apart():
    """The fleet record of every tolctl a test runs goes to a folder of the test's own, removed at
    its end: never the user's (unless TOLCTL_RECORD names one)."""
    if os.environ.get("TOLCTL_RECORD"):
        return
    folder = tempfile.mkdtemp(prefix="tol-record.")
    atexit.register(shutil.rmtree, folder, True)
    os.environ["TOLCTL_RECORD"] = os.path.join(folder, "record.sqlite")


_keep_record_apart()


@contextlib.contextmanager
def work_folder(name):
    """A folder /tmp/NAME.XXXXXX, removed at the end (kept, and named, when TOL_KEEP_WORK is set)."""
    path = tempfile.mkdtemp(prefix=name + ".")
    try:
        yield path
    finally:
        if os.environ.get("TOL_KEEP_WORK"):
            print("kept " + path)
        else:
            shutil.rmtree(path, ignore_errors=True)


def run(args, timeout=60, **options):
    """Runs a program to its end with nothing on its standard input; its output kept (bytes, or
    text with text=True)."""
    return subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout, **options)


# The line with which `tolctl listen` says it listens; its group is the port.
LISTENING = r"listening on [0-9.-]+:(\d+)"


class Serving:
    """`ARGS...` (tolctl listen, console or monitor) serving until stopped: its standard output
    in WORK/NAME.out and its errors in WORK/NAME.err; waits (up to `wait` s) for the first line
    that matches `line` and keeps that match (`port` is its first group). Fails the run when
    the line does not come."""

    def __init__(self, args, work, name, line=LISTENING, wait=30, **options):
        self.name = name
        self.out_path = os.path.join(work, name + ".out")
        self.err_path = os.path.join(work, name + ".err")
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=open(self.out_path, "w"),
                                        stderr=open(self.err_path, "w"), **options)
        self.match = None
        end = time.monotonic() + wait
        while self.match is None and time.monotonic() < end:
            self.match = re.search(line, self.output(), re.MULTILINE)
            if self.match is None:
                if self.process.poll() is not None:
                    break
                time.sleep(0.02)
        if self.match is None:
            self.kill()
            raise SystemExit(f"FAIL {name} did not start: {self.output()}{open(self.err_path).read()}")
        self.port = self.match.group(1) if self.match.groups() else None

    def output(self):
        with open(self.out_path, errors="replace") as text:
            return text.read()

    def stop(self):
        """Ends it as Ctrl-C would (SIGTERM); answers its exit code and its resource use."""
        self.process.send_signal(signal.SIGTERM)
        _, status, usage = os.wait4(self.process.pid, 0)
        self.process.returncode = os.waitstatus_to_exitcode(status)
        return self.process.returncode, usage

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.kill()
