#!/usr/bin/env python3
"""Writes Corvalen's sample documents into app/data/Samples/: our own short texts, one per format.

  tools/make-samples.py            (needs LibreOffice's soffice for the .doc and .pdf)

.docx, .odt, .rtf, .txt and .html are written directly; .doc and .pdf are converted from the
.docx and .odt by LibreOffice, so every sample comes from a real word processor's writer or ours.
"""
import html
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "app", "data", "Samples")

TEXTS = {
    "Harbour Letter": [
        "Dear Maren,",
        "The ferry left the harbour at seven, and by the time the fog lifted we could see the "
        "lighthouse on the northern cliff. The captain said the crossing would take three hours; "
        "it took five.",
        "I counted the gulls that followed us: twelve at first, then twenty, then too many to count.",
        "Write soon, and tell me whether the garden survived the storm.",
        "Yours, Ansel",
    ],
    "Committee Minutes": [
        "Minutes of the reading committee, 14 March",
        "Present: Ilse, Tomas, Priya and Jun. Apologies: none.",
        "1. The committee agreed to shorten the spring list from ten books to eight.",
        "2. Priya will draft the summary for the newsletter by Friday.",
        "3. The next meeting is on 11 April at the library.",
    ],
    "Lantern Story": [
        "The Lantern Keeper",
        "Every evening the keeper climbed the hundred and four steps with a can of oil and a "
        "cloth. Every morning he climbed them again to put the lantern out.",
        "One winter the steps froze, and the keeper stayed at the top for nine days, reading the "
        "same almanac until he knew every tide by heart.",
        "When the thaw came, the village sent a boy with bread and news. The keeper asked only "
        "one question: \u201cDid the light reach you?\u201d",
    ],
    "Word Count Notes": [
        "Notes on counting words",
        "A word is what stands between spaces and paragraph ends.",
        "Punctuation such as commas, full stops and hyphens is removed, so e-mail counts as email.",
        "With letter case ignored, The and the are the same word.",
        "Try counting this file together with the other samples, then one file at a time.",
    ],
    "Garden Newsletter": [
        "The Garden Newsletter",
        "Spring planting starts on the first dry weekend of April. Bring gloves, a trowel and "
        "patience.",
        "This month: tomatoes, beans, marigolds and a row of sunflowers for the bees.",
        "Volunteers meet by the shed at nine o\u2019clock.",
    ],
    "Museum Report": [
        "Annual Report of the Small Museum",
        "Visitors this year: 4,812, up from 3,950 last year.",
        "The map room reopened in June after repairs to the roof.",
        "The museum thanks every volunteer, donor and visitor.",
    ],
    "Old Town Memo": [
        "Memo to all staff",
        "The old town office closes at noon on Friday for the move.",
        "Please pack your desk drawers in the boxes provided and label each box with your name.",
        "The new office opens on Monday at eight.",
    ],
}


def docx(path, paragraphs):
    w = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"
    body = "".join(f'<w:p><w:r><w:t xml:space="preserve">{html.escape(p, quote=False)}</w:t></w:r></w:p>'
                   for p in paragraphs)
    parts = {
        "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>'
        '</Types>',
        "_rels/.rels": '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>'
        '</Relationships>',
        "word/document.xml": f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        f'<w:document xmlns:w="{w}"><w:body>{body}<w:sectPr/></w:body></w:document>',
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts.items():
            z.writestr(name, data)


def odt(path, paragraphs):
    body = "".join(f"<text:p>{html.escape(p, quote=False)}</text:p>" for p in paragraphs)
    content = ('<?xml version="1.0" encoding="UTF-8"?>'
               '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
               'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2">'
               f'<office:body><office:text>{body}</office:text></office:body></office:document-content>')
    manifest = ('<?xml version="1.0" encoding="UTF-8"?>'
                '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
                '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/>'
                '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
                '</manifest:manifest>')
    with zipfile.ZipFile(path, "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.text")
        z.writestr("content.xml", content, zipfile.ZIP_DEFLATED)
        z.writestr("META-INF/manifest.xml", manifest, zipfile.ZIP_DEFLATED)


def rtf_escape(text):
    out = []
    for ch in text:
        if ch in "\\{}":
            out.append("\\" + ch)
        elif ord(ch) < 128:
            out.append(ch)
        else:
            code = ord(ch)
            out.append(f"\\u{code if code < 32768 else code - 65536}?")
    return "".join(out)


def rtf(path, paragraphs):
    body = "".join(rtf_escape(p) + "\\par\n" for p in paragraphs)
    with open(path, "w", encoding="ascii") as f:
        f.write("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n\\f0\\fs24 "
                + body + "}\n")


def page(path, paragraphs):
    title, rest = paragraphs[0], paragraphs[1:]
    with open(path, "w", encoding="utf-8") as f:
        f.write('<!DOCTYPE html>\n<html lang="en">\n<head><meta charset="utf-8"><title>'
                + html.escape(title) + "</title></head>\n<body>\n<h1>" + html.escape(title) + "</h1>\n"
                + "".join(f"<p>{html.escape(p)}</p>\n" for p in rest) + "</body>\n</html>\n")


def text(path, paragraphs):
    with open(path, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(paragraphs) + "\n")


def convert(src, fmt, outdir):
    subprocess.run(["soffice", "--headless", "--convert-to", fmt, "--outdir", outdir, src],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    os.makedirs(OUT, exist_ok=True)
    docx(os.path.join(OUT, "Harbour Letter.docx"), TEXTS["Harbour Letter"])
    odt(os.path.join(OUT, "Committee Minutes.odt"), TEXTS["Committee Minutes"])
    rtf(os.path.join(OUT, "Lantern Story.rtf"), TEXTS["Lantern Story"])
    text(os.path.join(OUT, "Word Count Notes.txt"), TEXTS["Word Count Notes"])
    page(os.path.join(OUT, "Garden Newsletter.html"), TEXTS["Garden Newsletter"])
    if not shutil.which("soffice"):
        sys.exit("soffice is needed for the .doc and .pdf samples")
    with tempfile.TemporaryDirectory() as tmp:
        memo = os.path.join(tmp, "Old Town Memo.docx")
        docx(memo, TEXTS["Old Town Memo"])
        convert(memo, "doc", OUT)
        report = os.path.join(tmp, "Museum Report.odt")
        odt(report, TEXTS["Museum Report"])
        convert(report, "pdf", OUT)


if __name__ == "__main__":
    main()
