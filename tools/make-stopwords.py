#!/usr/bin/env python3
"""Writes the built-in stop-word lists, engine/stopwords/<code>.txt, from Debian's
liblingua-stopwords-perl (Lingua::StopWords, which ships the Snowball project's lists).

  tools/install-deps.sh --stop-lists && tools/make-stopwords.py

The Perl modules are read as text (their qw() lists), so Perl itself is not needed; the lists are
committed, so a build needs neither. Each list is UTF-8, one word per line, headed by comments
that name its source and licence, the format `corvalen count --stop-words FILE` reads.
"""
import pathlib
import re
import subprocess
import sys

SOURCE = pathlib.Path("/usr/share/perl5/Lingua/StopWords")
OUT = pathlib.Path(__file__).resolve().parent.parent / "engine" / "stopwords"
LANGUAGES = "da de en es fi fr hu id it nl no pt ro ru sv".split()


def package_version():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "liblingua-stopwords-perl"],
                          capture_output=True, text=True)
    return done.stdout.strip() or "unknown"


def words_of(module):
    text = module.read_text(encoding="utf-8")
    body = re.search(r"sub _stopwords\s*\{\s*return\s+qw\((.*?)\);", text, re.S)
    if not body:
        sys.exit(f"{module}: no qw() list found (has the module's format changed?)")
    seen, words = set(), []
    for word in body.group(1).split():
        if word not in seen:
            seen.add(word)
            words.append(word)
    return words


def main():
    version = package_version()
    OUT.mkdir(parents=True, exist_ok=True)
    for code in LANGUAGES:
        module = SOURCE / f"{code.upper()}.pm"
        if not module.exists():
            sys.exit(f"{module} is missing: install liblingua-stopwords-perl")
        words = words_of(module)
        header = [
            f"# Stop words: {code}",
            f"# Source: Debian package liblingua-stopwords-perl {version}, Lingua/StopWords/{code.upper()}.pm",
            "# (the Snowball project's stop-word lists, https://snowballstem.org/).",
            "# Copyright 2004-2008 Fabien Potencier, Marvin Humphrey; 2021 Helmut Wollmersdorfer.",
            "# Licence: the Artistic License or the GNU General Public License, version 1 or later.",
            "# Made by tools/make-stopwords.py; edit that script, not this file.",
        ]
        (OUT / f"{code}.txt").write_text("\n".join(header + words) + "\n", encoding="utf-8")
        print(f"{code}: {len(words)} words")


main()
