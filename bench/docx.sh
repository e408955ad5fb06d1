#!/usr/bin/env bash
# .docx benchmark: the document engine against docx2txt, LibreOffice and pandoc on the same files.
#
#   bench/docx.sh                    (also run by bench/run.sh docx)
#   RUNS=5 LO_FILES=10 bench/docx.sh
#
# Corpora (made once, same seed, same bytes): 300 small .docx of about 20 KB of text each and one
# .docx of 20 MB of text. LibreOffice costs about 0.8 s per start, so it runs on the first
# LO_FILES small files only and its figures are per file. Wall times are medians of RUNS runs;
# "CPU s" is user + system time of the median run, which stays meaningful on a busy machine. Each
# run's load average goes to standard error before it, and the heading gives their range.
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-3}
LO_FILES=${LO_FILES:-10}
peers=$shared/peers

if [ ! -x "$build/bin/bench_docs" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVALEN_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target bench_docs >/dev/null
fi
mkdir -p "$corpus/formats"
small=$corpus/docx300
big=$corpus/formats/big20.docx # shared with bench/formats.sh
[ -d "$small" ] || python3 "$shared/make_corpus.py" --docx --size 6 --files 300 --out "$small" >/dev/null
[ -s "$big" ] || python3 "$shared/make_corpus.py" --docx --size 20 --out "$big" >/dev/null
# LibreOffice as peers/docx_count.sh runs it, but with a profile of its own: a LibreOffice
# already running on the shared profile (another benchmark) would take over and queue our files.
lo_count() { # each|all FILE...
    local mode=$1; shift
    local out
    out=$(mktemp -d)
    lo() {
        soffice --headless -env:UserInstallation=file:///tmp/lo-bench-docs-profile \
            --convert-to 'txt:Text (encoded):UTF8' --outdir "$out" "$@" >/dev/null 2>&1
    }
    if [ "$mode" = all ]; then lo "$@"; else for f; do lo "$f"; done; fi
    for t in "$out"/*.txt; do sed '1s/^\xEF\xBB\xBF//' "$t"; echo; done | python3 "$peers/py_counter.py" -
    rm -rf "$out"
}
export -f lo_count
export peers

mapfile -t files < <(find -L "$small" -name '*.docx' | sort)
lo_files=("${files[@]:0:$LO_FILES}")
big_mb=$(python3 -c "print(20000024 / 1e6)")

# run RUNS COMMAND... -> "median_wall_s peak_rss_mib cpu_s words" (words: from the last run's output)
run() {
    local runs=$1; shift
    local tmp out i rows=()
    tmp=$(mktemp)
    for i in $(seq "$runs"); do
        note_load "$i ($(basename "$1"))"
        /usr/bin/time -o "$tmp.t" -f "%e %M %U %S" "$@" >"$tmp" 2>/dev/null || true
        rows+=("$(tail -n 1 "$tmp.t")")
    done
    local words
    if grep -q '^total ' "$tmp"; then
        words=$(awk '/^total /{print $2}' "$tmp")
    else
        words=$(awk -F'\t' '{s += $NF} END {print s + 0}' "$tmp")
    fi
    rm -f "$tmp" "$tmp.t"
    printf '%s\n' "${rows[@]}" | sort -g | awk -v w="$words" -v n="${#rows[@]}" '
        {a[NR] = $0; if ($2 > rss) rss = $2}
        END {split(a[int((n + 1) / 2)], m, " "); printf "%s %d %.2f %s\n", m[1], rss / 1024, m[3] + m[4], w}'
}

row() { # input tool files result extra-columns
    local input=$1 tool=$2 n=$3 r=$4 mbps=$5 ratio=$6
    read -r wall rss cpu words <<<"$r"
    printf '| %s | %s | %s | %s | %.2f | %s | %s | %s | %s | %s |\n' "$input" "$tool" "$n" "$wall" \
        "$(echo "$wall * 1000 / $n" | bc -l)" "$mbps" "$rss" "$cpu" "$words" "$ratio"
}

table=$(mktemp)
cleanup_files+=("$table")
exec 3>&1 >"$table" # the rows first: the heading gives the load of their runs

ours=$(run "$RUNS" "$build/bin/bench_docs" "${files[@]}")
read -r ours_wall _ ours_cpu _ <<<"$ours"
ours_n=${#files[@]}
row "300 small" "Corvalen (read + count)" "${#files[@]}" "$ours" "" ""
# ratio RESULT FILES: per file, the peer's wall (CPU) time over ours
ratio() {
    read -r w _ c _ <<<"$1"
    awk -v w="$w" -v c="$c" -v n="$2" -v ow="$ours_wall" -v oc="$ours_cpu" -v on="$ours_n" \
        'BEGIN {printf "%.0f (CPU %.0f)", (w / n) / (ow / on), (c / n) / (oc / on)}'
}
if command -v docx2txt >/dev/null; then
    r=$(run 1 "$peers/docx_count.sh" docx2txt "${files[@]}")
    row "300 small" "docx2txt + Counter" "${#files[@]}" "$r" "" "$(ratio "$r" "${#files[@]}")"
fi
if command -v soffice >/dev/null; then
    lo_count each "${lo_files[0]}" >/dev/null 2>&1 # the profile's first start is slow; not counted
    r=$(run 1 bash -c 'lo_count each "$@"' _ "${lo_files[@]}")
    row "first $LO_FILES small" "LibreOffice, one start per file" "${#lo_files[@]}" "$r" "" "$(ratio "$r" "${#lo_files[@]}")"
    r=$(run 1 bash -c 'lo_count all "$@"' _ "${files[@]}")
    row "300 small" "LibreOffice, one start for all" "${#files[@]}" "$r" "" "$(ratio "$r" "${#files[@]}")"
fi
if command -v pandoc >/dev/null; then
    r=$(run 1 "$peers/docx_count.sh" pandoc "${lo_files[@]}")
    row "first $LO_FILES small" "pandoc + Counter" "${#lo_files[@]}" "$r" "" "$(ratio "$r" "${#lo_files[@]}")"
fi

mbps() { echo "$big_mb / $1" | bc -l | xargs printf '%.1f'; }
text=$(run "$RUNS" "$build/bin/bench_docs" --text-only "$big")
row "20 MB of text" "Corvalen (text only)" 1 "$text" "$(mbps "${text%% *}")" ""
ours=$(run "$RUNS" "$build/bin/bench_docs" "$big")
row "20 MB of text" "Corvalen (read + count)" 1 "$ours" "$(mbps "${ours%% *}")" ""
read -r ours_wall _ ours_cpu _ <<<"$ours"
ours_n=1
if command -v docx2txt >/dev/null; then
    r=$(run 1 "$peers/docx_count.sh" docx2txt "$big")
    row "20 MB of text" "docx2txt + Counter" 1 "$r" "$(mbps "${r%% *}")" "$(ratio "$r" 1)"
fi
if command -v soffice >/dev/null && [ "${LO_BIG:-1}" = 1 ]; then
    r=$(run 1 bash -c 'lo_count all "$@"' _ "$big")
    row "20 MB of text" "LibreOffice" 1 "$r" "$(mbps "${r%% *}")" "$(ratio "$r" 1)"
fi
exec >&3 3>&-
echo "## .docx: the document engine against the peers (RUNS=$RUNS, $(nproc) cores, $(load_range) before the runs)"
echo
echo "| input | tool | files | wall s | ms per file | MB/s of text | peak RSS MiB | CPU s | words | Corvalen is x times faster (wall, CPU) |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
cat "$table"
echo
echo "Text size: $big_mb MB of UTF-8 text in the large file ($(stat -L -c %s "$big") bytes of .docx)."
echo "Peak memory target for the large file: under 4 x its UTF-16 text (see 'chars' of bench_docs)."
"$build/bin/bench_docs" --text-only "$big" | awk '{printf "UTF-16 text: %.1f MiB\n", $6 * 2 / 1048576}'
echo
