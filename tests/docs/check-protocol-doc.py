#!/usr/bin/env python3
"""Holds docs/protocol.md to the program: every `console` example is run with the tolctl given
and must print exactly what the page shows and exit with the code it shows ("[exit N]", else 0);
every table row whose bytes are all hex must be what `tolctl --dry-run SUBCOMMAND` prints; the
table must name every subcommand of `tolctl --help` except those the page lists as sending no
command, and each of them must have a worked example. The `console` examples of each further page
given are run the same way. An example's lines that begin "tolctl: " are what it says on standard
error: each must be a line of it.

Usage: check-protocol-doc.py TOLCTL PROTOCOL.md [PAGE.md...]"""
import os
import re
import shlex
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import tol  # noqa: E402

HEX = re.compile(r"^[0-9a-f]{2}( [0-9a-f]{2})*$")


def run(tolctl, args, errors=None):
    done = tol.run([tolctl] + args, timeout=20)
    if errors is not None:
        errors.extend(done.stderr.decode("utf-8", "replace").splitlines())
    return done.returncode, done.stdout.decode("utf-8", "replace")


def help_subcommands(tolctl):
    _, text = run(tolctl, ["--help"])
    names, on = [], False
    for line in text.splitlines():
        if line == "Subcommands:":
            on = True
        elif on and not line.strip():
            break
        elif on and line.startswith("  ") and not line.startswith("   "):
            names.append(line.split()[0])
    return names


def run_examples(tolctl, page):
    """Runs the console examples of `page`: "$ tolctl ARGS", then the lines it prints, then
    optionally [exit N]. Answers them, and the words of the --dry-run ones."""
    lines = open(page, encoding="utf-8").read().splitlines()
    examples, in_block, current = [], False, None
    for number, line in enumerate(lines, 1):
        if line.startswith("```"):
            in_block = line == "```console"
            current = None
            continue
        if not in_block:
            continue
        if line.startswith("$ "):
            current = {"line": number, "command": line[2:], "output": [], "exit": 0}
            examples.append(current)
        elif current is None:
            tol.fail(f"{page}:{number}: output before any command")
        elif re.fullmatch(r"\[exit \d+\]", line):
            current["exit"] = int(line[6:-1])
        elif line.startswith("tolctl: "):
            current.setdefault("stderr", []).append(line)
        else:
            current["output"].append(line)

    examined = set()
    for example in examples:
        words = shlex.split(example["command"])
        where = f"{page}:{example['line']}: {example['command']}"
        if not words or words[0] != "tolctl":
            tol.fail(f"{where}: not a tolctl command")
            continue
        errors = []
        code, out = run(tolctl, words[1:], errors)
        want = "\n".join(example["output"])
        if out.rstrip("\n") != want or code != example["exit"]:
            tol.fail(f"{where}\n  the page: {want!r} exit {example['exit']}\n  tolctl:   {out.rstrip()!r} exit {code}")
        for said in example.get("stderr", []):
            if said not in errors:
                tol.fail(f"{where}\n  the page: {said!r}\n  stderr:   {errors!r}")
        if "--dry-run" in words:
            examined.update(w for w in words[1:] if not w.startswith("-"))
    return examples, examined


def main():
    tolctl, page = sys.argv[1], sys.argv[2]
    lines = open(page, encoding="utf-8").read().splitlines()
    examples, examined = run_examples(tolctl, page)
    others = 0
    for other in sys.argv[3:]:
        found = len(run_examples(tolctl, other)[0])
        others += found
        if not found:
            tol.fail(f"{other}: no console example")

    # The table: | `subcommand` | button | `bytes` | what |
    rows = 0
    tabled = set()
    for number, line in enumerate(lines, 1):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 4 or not re.fullmatch(r"`[a-z0-9-]+`", cells[0]):
            continue
        sub = cells[0].strip("`")
        tabled.add(sub)
        bytes_cell = cells[2].strip("`")
        if HEX.match(bytes_cell):
            rows += 1
            code, out = run(tolctl, ["--dry-run", sub])
            if code != 0 or out.strip() != bytes_cell:
                tol.fail(f"{page}:{number}: {sub}: the table says {bytes_cell!r}, tolctl --dry-run {sub} prints {out.strip()!r}")
        if sub not in examined:
            tol.fail(f"{page}:{number}: {sub} has no worked example (tolctl --dry-run {sub} ...)")

    silent = set()
    for line in lines:
        found = re.fullmatch(r"<!-- Subcommands that send no printer command: (.*) -->", line)
        if found:
            silent.update(found.group(1).split())
    subcommands = help_subcommands(tolctl)
    if not subcommands:
        tol.fail("tolctl --help lists no subcommands")
    for sub in subcommands:
        if sub not in tabled and sub not in silent:
            tol.fail(f"{page}: the table lacks {sub}, which tolctl --help lists")
    for sub in sorted(tabled - set(subcommands)):
        tol.fail(f"{page}: the table names {sub}, which tolctl --help does not list")

    if len(examples) < len(tabled):
        tol.fail(f"{page}: only {len(examples)} examples for {len(tabled)} commands")
    return tol.finish(f"{len(examples)} examples and {rows} fixed rows of {len(tabled)} commands checked, and "
          f"{others} examples of {len(sys.argv) - 3} more pages; {len(tol.failures)} failures")


if __name__ == "__main__":
    sys.exit(main())
