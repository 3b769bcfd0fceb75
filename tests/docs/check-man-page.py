#!/usr/bin/env python3
"""Holds tolctl's man page to its help: every line of `tolctl --help` and of each subcommand's
--help (their own subcommands too), each option's name and its description apart, must be in
the page as `man` shows it, and so must `tolctl --version`. Line breaks, spacing and hyphens
(where man breaks words) are not compared; everything else is. The page must also have the
sections that no help text gives (EXAMPLES, ENVIRONMENT, SEE ALSO), and each example that shows
what it prints is run (with bash, the tolctl given first on PATH, in an empty folder) and must
print exactly that.

Usage: check-man-page.py TOLCTL PAGE.1"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import tol  # noqa: E402

SECTIONS = ("EXAMPLES", "ENVIRONMENT", "SEE ALSO")


def run(args):
    done = tol.run(args, timeout=30, env=dict(os.environ, MANWIDTH="200", LC_ALL="C.UTF-8"))
    return done.stdout.decode("utf-8", "replace")


def squeezed(text):
    return re.sub(r"[\s\-\u2010\u2011]+", "", text)


def subcommands(help_text):
    names, on = [], False
    for line in help_text.splitlines():
        if line == "Subcommands:":
            on = True
        elif on and not line.strip():
            break
        elif on and re.match(r"^  \S", line):
            names.append(line.split()[0])
    return names


def pieces(help_text, top):
    """What of a help text the page must show: description, usage, entries (name and
    description apart) and, for the top level, the closing notes."""
    for line in help_text.splitlines():
        if not line.strip() or re.fullmatch(r"[A-Z][A-Za-z ]*:", line):
            continue
        if line.startswith("Usage: "):
            yield line[len("Usage: "):]
            continue
        if re.match(r"^  \S", line):
            entry = line[2:]
            parts = re.split(r" {3,}", entry, maxsplit=1)
            if not top and parts[0] in ("-h,--help", "--help-all"):
                continue  # the same for every subcommand: the page has them once, at the top
            yield from parts
            continue
        yield line.strip()


def section(shown, name):
    """The lines of one section of the page as man shows it (None when it has none)."""
    found = re.search(rf"^{name}\n(.*?)(?=^\S|\Z)", shown, re.M | re.S)
    return found.group(1).splitlines() if found else None


def examples(lines):
    """(command, the lines it prints) of each "$ " line, a trailing backslash joining the next;
    what it prints is indented as far as the command (the text around it is indented less)."""
    found, indent = [], 0
    for raw in lines:
        line, depth = raw.strip(), len(raw) - len(raw.lstrip())
        if found and found[-1][0].endswith("\\"):
            found[-1][0] = found[-1][0][:-1] + " " + line
        elif line.startswith("$ "):
            found.append([line[2:], []])
            indent = depth
        elif found and line and depth >= indent:
            found[-1][1].append(line)
        elif line:
            indent = 1 << 30  # prose: what follows belongs to no command until the next one
    return found


def check_examples(tolctl, lines):
    ran = 0
    env = dict(os.environ, PATH=os.path.dirname(os.path.abspath(tolctl)) + os.pathsep + os.environ["PATH"])
    for command, want in examples(lines):
        if not want:
            continue  # it prints nothing the page shows (it sends, listens or writes a file)
        ran += 1
        with tol.work_folder("tol-man-example") as folder:
            done = tol.run(["bash", "-c", command], timeout=30, cwd=folder, env=env)
        out = done.stdout.decode("utf-8", "replace").rstrip("\n")
        if out != "\n".join(want) or done.returncode != 0:
            tol.fail(f"EXAMPLES: {command!r}\n  the page: {want!r}\n  prints:   {out!r} exit {done.returncode}")
    if ran == 0:
        tol.fail("EXAMPLES: no example shows what it prints")
    return ran


def main():
    tolctl, page = sys.argv[1], sys.argv[2]
    shown = run(["man", "-l", page])
    if not shown.strip():
        print(f"FAIL man -l {page} shows nothing")
        return 1
    page_text = squeezed(shown)
    checked = 0

    version = run([tolctl, "--version"]).strip()
    if not version or squeezed(version) not in page_text:
        tol.fail(f"the page does not show the version {version!r}")

    top = run([tolctl, "--help"])
    helps = [([], top)]
    for sub in subcommands(top):
        text = run([tolctl, sub, "--help"])
        helps.append(([sub], text))
        for inner in subcommands(text):
            helps.append(([sub, inner], run([tolctl, sub, inner, "--help"])))
    footer = None
    for path, text in helps:
        lines = list(pieces(text, not path))
        if not path:
            # The closing notes (after the last section) repeat in every subcommand's help.
            footer = set(l.strip() for l in text.split("\n\n")[-1].splitlines())
        for piece in lines:
            if path and piece in footer:
                continue
            checked += 1
            if squeezed(piece) not in page_text:
                tol.fail(f"tolctl {' '.join(path + ['--help'])}: {piece!r} is not in the page")
    for name in SECTIONS:
        lines = section(shown, name)
        if not lines or not "".join(lines).strip():
            tol.fail(f"the page has no {name} section")
        elif name == "EXAMPLES":
            checked += check_examples(tolctl, lines)
    if len(helps) < 2 or checked < 20:
        tol.fail(f"only {checked} lines of {len(helps)} help texts found")
    return tol.finish(f"{checked} lines of {len(helps)} help texts checked against the man page; "
                      f"{len(tol.failures)} failures")


if __name__ == "__main__":
    sys.exit(main())
