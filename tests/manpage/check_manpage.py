#!/usr/bin/env python3
"""Checks the manual page against the program's own help texts.

  check_manpage.py CORVALEN MANPAGE_SOURCE CONFIGURED_MANPAGE

Fails, naming them, when
  - an option that "corvalen --help" or "corvalen COMMAND --help" lists (for every command word
    that "corvalen --help" shows) is missing from the manual page's source,
  - an option that the manual page describes (a .TP tag) is listed by no help text any more,
  - the configured manual page does not carry the version that "corvalen --version" prints.
"""
import re
import subprocess
import sys

program, source_path, configured_path = sys.argv[1:4]
problems = []


def run(*args):
    done = subprocess.run([program, *args], capture_output=True, text=True, timeout=30)
    if done.returncode != 0:
        sys.exit(f"corvalen {' '.join(args)} exited with {done.returncode}: {done.stderr}")
    return done.stdout


OPTION = re.compile(r"(?<![\w-])--?[A-Za-z][\w-]*")


def help_options(text):
    """The options of a help text: those in the option column of its indented lines."""
    found = set()
    for line in text.splitlines():
        m = re.match(r"\s+(-\S.*?)(?:\s{2,}|$)", line)
        if m:
            found.update(OPTION.findall(m.group(1)))
    return found


def plain_roff(text):
    """Roff source as a reader sees it: no comments, font changes or escaped hyphens."""
    text = "\n".join(line for line in text.splitlines() if not line.startswith('.\\"'))
    text = re.sub(r"\\f(\[[^]]*\]|\(..|.)", "", text)
    return text.replace("\\-", "-").replace("\\ ", " ")


general = run("--help")
commands = sorted(set(re.findall(r"^\s*(?:Usage:)?\s*corvalen\s+([a-z][a-z-]*)\b", general, re.M)))
if not commands:
    problems.append("corvalen --help shows no command word (has its usage format changed?)")
helps = {"corvalen --help": help_options(general)}
for command in commands:
    helps[f"corvalen {command} --help"] = help_options(run(command, "--help"))

with open(source_path, encoding="utf-8") as f:
    source = f.read()
manual = plain_roff(source)
for name, options in helps.items():
    if not options:
        problems.append(f"{name} lists no option (has its format changed?)")
    for option in sorted(options):
        if not re.search(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", manual):
            problems.append(f"{name} lists {option}, which the manual page {source_path} does not describe")
for command in commands:
    if f"corvalen {command}" not in manual:
        problems.append(f"the manual page {source_path} does not describe the command corvalen {command}")

listed = set().union(*helps.values())
lines = manual.splitlines()
for i, line in enumerate(lines[:-1]):
    if line.strip() == ".TP":
        for option in OPTION.findall(lines[i + 1]):
            if option not in listed:
                problems.append(f"the manual page describes {option}, which no help text lists")

version = run("--version").strip()
with open(configured_path, encoding="utf-8") as f:
    title = next((line for line in f if line.startswith(".TH ")), "")
if not version or f'"{version}"' not in title:
    problems.append(f"the manual page's title line {title.strip()!r} does not carry {version!r}")

for p in problems:
    print(p)
if problems:
    sys.exit(1)
print(f"manual page describes {len(listed)} options of {len(helps)} help texts; version {version}")
