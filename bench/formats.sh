#!/usr/bin/env bash
# .doc, RTF, OpenDocument and PDF: each reader on the same 20 MB-text document.
#
#   bench/formats.sh                 (also run by bench/run.sh formats)
#   RUNS=5 bench/formats.sh
#
# The generated .docx of 20 MB of text is converted once with LibreOffice to .doc, .rtf, .odt and
# .pdf (kept under bench/corpus/formats/, never committed). bench_legacy times the reading only
# (best of RUNS; CPU time stays meaningful on a busy machine). pdftotext reads the same PDF for
# comparison. Targets: at least 50 MB/s of text for .doc and .rtf; PDF within 2x pdftotext.
set -euo pipefail
source "$(dirname "$0")/common.sh"
corpus=$corpus/formats
RUNS=${RUNS:-3}

"$here/../tools/install-deps.sh" --bench
if [ ! -x "$build/bin/bench_legacy" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVALEN_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target bench_legacy >/dev/null
fi
mkdir -p "$corpus"
big=$corpus/big20.docx
[ -s "$big" ] || python3 "$shared/make_corpus.py" --docx --size 20 --out "$big" >/dev/null
profile=$(mktemp -d)
for target in "doc:MS Word 97" "rtf:Rich Text Format" "odt" "pdf:writer_pdf_Export"; do
    ext=${target%%:*}
    if [ ! -s "$corpus/big20.$ext" ]; then
        echo "converting to .$ext with LibreOffice (once; takes minutes)..." >&2
        soffice --headless "-env:UserInstallation=file://$profile" --convert-to "$target" --outdir "$corpus" "$big" >/dev/null 2>&1
    fi
done
rm -rf "$profile"

echo "## .doc, RTF, OpenDocument and PDF readers on 20 MB of text (best of RUNS=$RUNS, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start)"
echo
echo "| input | file MB | reader | text MB | wall s | CPU s | MB/s of text (wall) | MB/s (CPU) |"
echo "|---|---:|---|---:|---:|---:|---:|---:|"
files=()
for ext in docx doc rtf odt pdf; do
    [ -s "$corpus/big20.$ext" ] && files+=("$corpus/big20.$ext")
done
"$build/bin/bench_legacy" --runs "$RUNS" "${files[@]}" | tail -n +2 | while IFS=$'\t' read -r file reader mb wall cpu mbps mbpscpu; do
    printf '| %s | %.1f | %s | %s | %s | %s | %s | %s |\n' "$(basename "$file")" \
        "$(stat -c %s "$file" | awk '{print $1 / 1e6}')" "$reader" "$mb" "$wall" "$cpu" "$mbps" "$mbpscpu"
done

if [ -s "$corpus/big20.pdf" ] && command -v pdftotext >/dev/null; then
    tmp=$(mktemp)
    cleanup_files+=("$tmp")
    for i in $(seq "$RUNS"); do
        note_load "$i (pdftotext)"
        /usr/bin/time -a -o "$tmp" -f "%e %U %S" pdftotext "$corpus/big20.pdf" /dev/null 2>/dev/null
    done
    awk '!/^Command/ {w = $1; c = $2 + $3; if (NR == 1 || w < bw) bw = w; if (NR == 1 || c < bc) bc = c}
         END {printf "| big20.pdf | | pdftotext (to /dev/null) | | %.2f | %.2f | | |\n", bw, bc}' "$tmp"
    rm -f "$tmp"
fi
echo
