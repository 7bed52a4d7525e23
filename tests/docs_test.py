#!/usr/bin/env python3
"""Checks the documents a reader starts from: every relative link of the
README and docs/ leads to a file, the README stays a short door (150 lines
at most), and the example it opens with is the bundled file's own first
lines; and that every document that explains the format names the notes'
letters."""
import os
import re
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
failures = []
documents = ["README.md"] + sorted("docs/" + name for name in os.listdir(os.path.join(root, "docs"))
                                   if name.endswith(".md"))
for document in documents:
    text = open(os.path.join(root, document), encoding="utf-8").read()
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue
        path = os.path.join(root, os.path.dirname(document), target.split("#")[0])
        if not os.path.exists(path):
            failures.append("%s links to %s, which does not exist" % (document, target))

readme = open(os.path.join(root, "README.md"), encoding="utf-8").read().split("\n")
if len(readme) > 151:
    failures.append("README.md has %d lines, over 150" % len(readme))
opening = next(i for i, line in enumerate(readme) if "examples/ode_to_joy.txt`:" in line and "first lines" in line)
shown = []
for line in readme[opening + 2:]:
    if not line.startswith("    "):
        break
    shown.append(line[4:])
example = open(os.path.join(root, "examples", "ode_to_joy.txt"), encoding="utf-8").read().split("\n")
if not shown or shown != example[:len(shown)]:
    failures.append("the README's opening example is not the first lines of examples/ode_to_joy.txt")

# Everywhere the format is explained says which letter each syllable is.
for document in ("README.md", "docs/score-format.md", "docs/score2wav.1.in", "packaging/README-Windows.txt",
                 "web/index.html"):
    text = open(os.path.join(root, document), encoding="utf-8").read()
    if "A4" not in text or not re.search(r"C(#|♯|\\\(#)", text):
        failures.append("%s does not name the notes' letters (2d is A4, m is C#)" % document)

for failure in failures:
    print("FAIL: " + failure)
print("docs: %d failed check(s)" % len(failures) if failures else "docs: all checks passed")
sys.exit(1 if failures else 0)
