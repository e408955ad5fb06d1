#!/usr/bin/env bash
# Debian 12 packages that only the benchmarks need (the build and tests need tools/install-deps.sh).
# Installs only what is missing, so a second run is quick.
set -euo pipefail

packages=(
    # converts the generated .docx to .doc, .rtf, .odt and .pdf
    libreoffice-writer-nogui
    # pdftotext, the yardstick for the PDF reader
    poppler-utils
    # make_corpus.py
    python3
    # the .docx peers of bench/docx.sh and the timing tools
    docx2txt pandoc hyperfine time bc
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
