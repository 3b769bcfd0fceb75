#!/usr/bin/env python3
"""The layers of the code: every quoted #include names its folder ("system/Files.h",
"fleet/Plan.h"), and no folder includes one above it. Run from anywhere in the repository; prints
each file that breaks a rule and exits 1, else prints a summary and exits 0."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
import tol  # noqa: E402

# Each folder and the folders it may include besides its own, lowest first. A folder that is not
# listed here (a new one) must be added before it may be included or include anything.
LAYERS = {
    "values": set(),
    "system": {"values"},
    "json": {"system", "values"},
    "commands": {"system", "values"},
    "transport": {"commands", "system", "values"},
    "http": {"system", "values", "json"},
    "record": {"system", "values", "json"},
    "fleet": {"record", "transport", "commands", "system", "values", "json"},
    "emulator": {"commands", "system", "values", "json"},
    "console": {"http", "fleet", "record", "transport", "commands", "system", "values", "json"},
    "winui": set(),
    "dialog": {"winui", "transport", "commands", "system", "values"},
    "tolvane": {"dialog", "winui", "transport", "commands", "system", "values"},
    "tolwire": {"dialog", "winui", "transport", "commands", "system", "values"},
}
LAYERS["tolctl"] = {name for name in LAYERS if name not in ("winui", "dialog", "tolvane", "tolwire")}
# The benchmarks' programs measure a library each.
LAYERS["bench"] = {"record", "system", "values", "json"}
# Made by the build, not in the repository.
GENERATED = {"TolVersion.h"}

top = subprocess.check_output(["git", "rev-parse", "--show-toplevel"], text=True).strip()
os.chdir(top)
files = [f for f in subprocess.check_output(["git", "ls-files"], text=True).split("\n")
         if f.endswith((".cpp", ".h", ".c"))]


def folder(path):
    parts = path.split("/")
    return parts[1] if parts[0] == "common" else parts[0]


checked = 0
for f in files:
    text = open(f, encoding="utf-8", errors="replace").read()
    mine = folder(f)
    for number, line in enumerate(text.split("\n"), 1):
        m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
        if not m:
            continue
        checked += 1
        name = m.group(1)
        where = f"{f}:{number}: {name}"
        if "/" not in name:
            if name not in GENERATED:
                tol.fail(f"{where}: an include names its folder (\"system/Files.h\")")
            continue
        if name.startswith(".") or "/../" in name:
            tol.fail(f"{where}: not relative to a folder of the tree")
            continue
        theirs = name.split("/")[0]
        if mine == "tests":
            continue  # the tests may reach any layer
        if mine not in LAYERS:
            tol.fail(f"{where}: {mine}/ is no known layer (add it to tests/check-layers.py)")
        elif theirs != mine and theirs not in LAYERS[mine]:
            tol.fail(f"{where}: {mine}/ may not include {theirs}/ (it is not below it)")

sys.exit(tol.finish(f"check-layers: {checked} includes of {len(files)} files, {len(tol.failures)} problems"))
