#!/usr/bin/env python3
"""Writes what tolctl writes of the profile into the documents: docs/profile.schema.json from
`tolctl profile schema` and the table of keys in docs/profiles.md (between its "<!-- tolctl
profile keys" and "<!-- end of tolctl profile keys -->" lines) from `tolctl profile keys`. A test
(tests/tolctl/profile_docs.py) fails while they differ. Usage: write-profile-docs.py [TOLCTL]
(default build/native/tolctl/tolctl)."""
import os
import re
import subprocess
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
tolctl = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "native", "tolctl", "tolctl")
docs = os.path.join(root, "docs")
schema = subprocess.run([tolctl, "profile", "schema"], capture_output=True, check=True).stdout
with open(os.path.join(docs, "profile.schema.json"), "wb") as f:
    f.write(schema)
table = subprocess.run([tolctl, "profile", "keys"], capture_output=True, text=True, check=True).stdout
page_path = os.path.join(docs, "profiles.md")
with open(page_path) as f:
    page = f.read()
page, count = re.subn(r"(<!-- tolctl profile keys[^\n]*-->\n).*?(<!-- end of tolctl profile keys -->)",
                      lambda m: m.group(1) + table + m.group(2), page, flags=re.S)
if count != 1:
    sys.exit("docs/profiles.md has no table of keys between its markers")
with open(page_path, "w") as f:
    f.write(page)
