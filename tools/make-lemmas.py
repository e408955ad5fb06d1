#!/usr/bin/env python3
"""Writes the built-in English lemma data, engine/lemmas/en.txt, from Debian's wordnet-base
(WordNet 3.0, /usr/share/wordnet).

  tools/install-deps.sh --lemma-data && tools/make-lemmas.py

The file is committed, so a build needs neither the package nor Python, and the program needs no
package at run time. It holds what WordNet's own morphology (morphy) needs for single words:
  - the lemma index: every single-word lemma of index.noun, index.verb, index.adj and index.adv,
    with the parts of speech it is listed under and how often WordNet's sense-tagged corpus
    (SemCor) tags its senses, summed over all of them (cntlist.rev); the program chooses by this
    count where a form has several lemmas;
  - the morphological exceptions of noun.exc, verb.exc, adj.exc and adv.exc (ran -> run).
The index writes every lemma in lower case; a lemma that the synsets (data.*) only ever spell with
capitals, a name, is written as they spell it (Elizabeth, Paris), so that a count that keeps letter
case shows it so.
The regular detachment rules (studies -> study) are applied by the program against the index.
Lemmas of several words (WordNet writes them with "_") are left out: a counted word never holds a
space.
"""
import collections
import pathlib
import subprocess
import sys

SOURCE = pathlib.Path("/usr/share/wordnet")
OUT = pathlib.Path(__file__).resolve().parent.parent / "engine" / "lemmas" / "en.txt"
PARTS = {"n": "noun", "v": "verb", "a": "adj", "r": "adv"}
# cntlist.rev's sense keys name the part of speech by number; 5 is an adjective satellite.
SENSE_PART = {"1": "n", "2": "v", "3": "a", "4": "r", "5": "a"}

LICENCE = """\
This software and database is being provided to you, the LICENSEE, by Princeton University
under the following license. By obtaining, using and/or copying this software and database,
you agree that you have read, understood, and will comply with these terms and conditions.:

Permission to use, copy, modify and distribute this software and database and its documentation
for any purpose and without fee or royalty is hereby granted, provided that you agree to comply
with the following copyright notice and statements, including the disclaimer, and that the same
appear on ALL copies of the software, database and documentation, including modifications that
you make for internal use or for distribution.

WordNet 3.0 Copyright 2006 by Princeton University. All rights reserved.

THIS SOFTWARE AND DATABASE IS PROVIDED "AS IS" AND PRINCETON UNIVERSITY MAKES NO REPRESENTATIONS
OR WARRANTIES, EXPRESS OR IMPLIED. BY WAY OF EXAMPLE, BUT NOT LIMITATION, PRINCETON UNIVERSITY
MAKES NO REPRESENTATIONS OR WARRANTIES OF MERCHANT- ABILITY OR FITNESS FOR ANY PARTICULAR PURPOSE
OR THAT THE USE OF THE LICENSED SOFTWARE, DATABASE OR DOCUMENTATION WILL NOT INFRINGE ANY THIRD
PARTY PATENTS, COPYRIGHTS, TRADEMARKS OR OTHER RIGHTS.

The name of Princeton University or Princeton may not be used in advertising or publicity
pertaining to distribution of the software and/or database. Title to copyright in this software,
database and any associated documentation shall at all times remain with Princeton University
and LICENSEE agrees to preserve same."""


def package_version():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "wordnet-base"],
                          capture_output=True, text=True)
    return done.stdout.strip() or "unknown"


def read(name):
    path = SOURCE / name
    if not path.exists():
        sys.exit(f"{path} is missing: install wordnet-base (tools/install-deps.sh --lemma-data)")
    return path.read_text(encoding="latin-1").splitlines()


def single(word):
    return word and "_" not in word and " " not in word


def main():
    parts = collections.defaultdict(set)
    for part, name in PARTS.items():
        for line in read(f"index.{name}"):
            if line.startswith(" "):  # the licence at the top
                continue
            lemma = line.split(" ", 1)[0]
            if single(lemma):
                parts[lemma].add(part)
    # How the synsets spell each lemma: one spelling with capitals and never in lower case is a
    # name's.
    spellings = collections.defaultdict(set)
    for name in PARTS.values():
        for line in read(f"data.{name}"):
            if line.startswith(" "):
                continue
            fields = line.split(" ")
            for i in range(int(fields[3], 16)):
                word = fields[4 + 2 * i].split("(", 1)[0]  # an adjective's marker, as "(a)"
                if single(word):
                    spellings[word.lower()].add(word)
    def shown(lemma):
        spelled = spellings.get(lemma, set())
        return next(iter(spelled)) if len(spelled) == 1 and lemma not in spelled else lemma

    counts = collections.Counter()
    for line in read("cntlist.rev"):
        key, _, tagged = line.split()
        lemma, sense = key.split("%", 1)
        counts[lemma] += int(tagged)
    exceptions = []
    for part, name in PARTS.items():
        for line in read(f"{name}.exc"):
            fields = line.split()
            lemmas = [w for w in fields[1:] if single(w)]
            if fields and single(fields[0]) and lemmas:
                exceptions.append((fields[0], part, lemmas))
    exceptions.sort()

    header = [
        "English lemmas: WordNet 3.0's lemma index, morphological exceptions and sense counts.",
        f"Source: Debian package wordnet-base {package_version()}, /usr/share/wordnet: index.noun,",
        "index.verb, index.adj, index.adv, noun.exc, verb.exc, adj.exc, adv.exc and cntlist.rev.",
        "Licence: the WordNet 3.0 licence:",
        "",
        *LICENCE.splitlines(),
        "",
        "Made by tools/make-lemmas.py; edit that script, not this file.",
        "",
        'Each line up to "[exceptions]" is a single-word lemma of the index (with capitals where the',
        "synsets only ever spell it so), the parts of speech it is listed under (n noun, v verb,",
        "a adjective, r adverb) and, when not 0, how often the sense-tagged corpus tags its senses.",
        "Each line after it is a form, a part of speech and the lemmas it is an irregular form of",
        "under it.",
    ]
    lines = ["# " + h if h else "#" for h in header]
    for lemma in sorted(parts):
        line = f"{shown(lemma)} {''.join(p for p in 'nvar' if p in parts[lemma])}"
        if counts[lemma]:
            line += f" {counts[lemma]}"
        lines.append(line)
    lines.append("[exceptions]")
    lines += [f"{form} {part} {' '.join(lemmas)}" for form, part, lemmas in exceptions]
    OUT.parent.mkdir(parents=True, exist_ok=True)
    OUT.write_text("\n".join(lines) + "\n", encoding="utf-8")
    print(f"{OUT}: {len(parts)} lemmas, {len(exceptions)} exceptions")


main()
