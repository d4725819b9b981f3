#!/usr/bin/env python3
"""Makes a manual page from a program's own --help output and a roff template.

usage: make_manpage.py PROGRAM TEMPLATE OUTPUT.gz VERSION

The template is roff with placeholders that are replaced by what the program
prints, so the page cannot drift from the options:
  @VERSION@   the package version
  @HELP@      `PROGRAM --help`, verbatim
  @COMMANDS@  for a program whose --help lists "commands:", one entry per
              command with its summary and `PROGRAM COMMAND --help`, verbatim
The page is written gzip-compressed without a time stamp, so that builds repeat.
"""
import gzip
import os
import re
import subprocess
import sys


def run_help(argv):
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", QT_QPA_PLATFORM="offscreen")
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, check=False)
    text = done.stdout.decode("utf-8")
    if done.returncode != 0 or not text.strip():
        sys.exit(f"make_manpage: {' '.join(argv)} failed ({done.returncode}):\n{text}")
    return text


def roff_text(line):
    """One line of program output as roff text (escapes, no requests)."""
    line = line.replace("\\", "\\e").replace("-", "\\-")
    if line.startswith((".", "'")):
        line = "\\&" + line
    return line


def verbatim(text):
    lines = [roff_text(l.rstrip()) for l in text.rstrip("\n").split("\n")]
    return ".PP\n.nf\n.RS 2\n" + "\n".join(l if l else ".sp" for l in lines) + "\n.RE\n.fi\n"


def commands(help_text):
    """(usage, summary) of each command listed under "commands:" in --help: the
    usage and summary on one line two or more blanks apart, or the summary alone
    on the next, indented line when the usage is long."""
    out = []
    listing = help_text.split("commands:", 1)
    if len(listing) < 2:
        return out
    for line in listing[1].split("\n"):
        m = re.match(r"^  (\S.*?)(?:\s{2,}(\S.*))?$", line)
        if m:
            out.append([m.group(1), m.group(2) or ""])
        elif re.match(r"^\s{3,}\S", line) and out and not out[-1][1]:
            out[-1][1] = line.strip()
    return [tuple(c) for c in out]


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    program, template, output, version = sys.argv[1:]
    help_text = run_help([program, "--help"])
    parts = []
    for usage, summary in commands(help_text):
        name = usage.split()[0]
        parts.append(".TP\n.B " + roff_text(usage) + "\n" + roff_text(summary) + "\n")
        parts.append(verbatim(run_help([program, name, "--help"])))
    with open(template, encoding="utf-8") as f:
        page = f.read()
    page = page.replace("@VERSION@", version)
    page = page.replace("@HELP@", verbatim(help_text))
    page = page.replace("@COMMANDS@", "".join(parts))
    with open(output, "wb") as f:
        with gzip.GzipFile(filename="", mode="wb", fileobj=f, compresslevel=9, mtime=0) as z:
            z.write(page.encode("utf-8"))


if __name__ == "__main__":
    main()
