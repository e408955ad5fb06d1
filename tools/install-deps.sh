#!/usr/bin/env bash
# The one list of Debian 12 packages Corvalen needs to build, test and run.
# Installs only what is missing, so a second run is quick.
#   tools/install-deps.sh                what building and running need
#   tools/install-deps.sh --tests        and what the tests need besides (test.sh passes it)
#   tools/install-deps.sh --screenshots  and a virtual X server (tools/screenshot.sh)
#   tools/install-deps.sh --demo         and what records the demonstration (tools/record-demo.sh)
#   tools/install-deps.sh --bench        and the peers and timers of the benchmarks (bench/)
#   tools/install-deps.sh --package      and what builds and checks the Debian package (tools/package.sh)
#   tools/install-deps.sh --stop-lists   and the source of the built-in stop-word lists (tools/make-stopwords.py)
#   tools/install-deps.sh --lemma-data   and the source of the built-in English lemmas (tools/make-lemmas.py)
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    # Qt 6 (Widgets, SVG icons, QtTest, uic/rcc) and the OpenGL headers its CMake files ask for
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins libgl-dev
    # the word-list explorer's charts (Qt Charts' CMake files ask for Qt OpenGL)
    qt6-charts-dev libqt6opengl6-dev
    # document readers and the spreadsheet writer
    libzip-dev zlib1g-dev libpoppler-cpp-dev libxlsxwriter-dev
    # the command line's alphabetical order (the Unicode root collation) and Unicode word boundaries
    libicu-dev
    # word forms: the Snowball stemmers, and Hunspell's stems as the lemmas of the languages whose
    # dictionaries are installed
    libstemmer-dev libhunspell-dev
    # the corpus queries' regular expressions (PCRE2, as Qt's own expressions use it)
    libpcre2-dev
    # inflates big .docx and .odt parts fast (the build falls back to libzip without it)
    libisal-dev
    # the fonts of the windows: the command bars ask for Calibri, the windows for Arial (and
    # metric-compatible fonts stand in for them)
    fonts-crosextra-carlito fonts-liberation2
    # the sample documents are remade with it (tools/make-samples.py)
    python3
)
test_packages=(
    # tests compare against the reference counter
    python3
    # tests open the exported workbook in LibreOffice Calc (the check is skipped without it)
    libreoffice-calc-nogui
    # tests check the lemmas of German, French and Spanish from their Hunspell dictionaries
    hunspell-de-de hunspell-fr hunspell-es
)
screenshot_packages=(xvfb xauth)
demo_packages=(xvfb xauth xdotool ffmpeg)
bench_packages=(
    # converts the generated .docx to .doc, .rtf, .odt and .pdf
    libreoffice-writer-nogui
    # pdftotext, the yardstick for the PDF reader
    poppler-utils
    # the .docx peers of bench/docx.sh and the timing tools
    docx2txt pandoc hyperfine time bc
)
package_packages=(
    # dpkg-shlibdeps works out the package's dependencies; file finds the programs to look at;
    # gzip compresses the manual page and changelog
    dpkg-dev file gzip
    # man reads the installed manual page; lintian checks the package against Debian's policy
    man-db lintian
)
stop_list_packages=(
    # the Snowball project's stop-word lists, as Lingua::StopWords ships them
    liblingua-stopwords-perl
)
lemma_data_packages=(
    # WordNet 3.0's lemma index, exception lists and sense counts
    wordnet-base python3
)
for option in "$@"; do
    case $option in
        --tests) packages+=("${test_packages[@]}") ;;
        --screenshots) packages+=("${screenshot_packages[@]}") ;;
        --demo) packages+=("${demo_packages[@]}") ;;
        --bench) packages+=("${bench_packages[@]}") ;;
        --package) packages+=("${package_packages[@]}") ;;
        --stop-lists) packages+=("${stop_list_packages[@]}") ;;
        --lemma-data) packages+=("${lemma_data_packages[@]}") ;;
        *) echo "install-deps.sh: unknown option $option" >&2; exit 2 ;;
    esac
done
if [ "${CORVALEN_EXTRA_PACKAGES:-}" != "" ]; then
    read -r -a extra <<< "$CORVALEN_EXTRA_PACKAGES"
    packages+=("${extra[@]}")
fi

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
