#!/usr/bin/env bash
# The whole command, end to end: `corvalen count` (start, read, count, order, write the rows)
# against the peers on the same inputs.
#
#   bench/cli.sh                       (also run by bench/run.sh cli)
#   RUNS=3 BIG_RUNS=1 bench/cli.sh     (runs per tool on the small inputs / on the 1 GB inputs)
#
# Inputs, made once under bench/corpus/ by the shared generator (same seed, same bytes): 1 GB of
# text as one file (c1000.txt) and the same text cut at line ends into 1,000 files in ten folders
# (split1000/), and 300 small .docx (docx300/). Corvalen and the peers all count the files together with case ignored; Corvalen
# also runs per file. Wall time is the median of the runs; peak RSS the largest (/usr/bin/time -v);
# CPU = user + system of the median run. Output goes to /dev/null. Each run's load average goes to
# standard error before it, and the heading gives their range.
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-3}
BIG_RUNS=${BIG_RUNS:-1}
peers=$shared/peers

if [ ! -x "$bin" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVALEN_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target corvalen >/dev/null
fi
mkdir -p "$corpus"
big=$corpus/c1000.txt
tree=$corpus/split1000
docx=$corpus/docx300
[ -s "$big" ] || python3 "$shared/make_corpus.py" --size 1000 --out "$big" >/dev/null
if [ ! -d "$tree" ]; then
    mkdir -p "$tree.tmp"
    (cd "$tree.tmp" && split -n l/1000 -d -a 3 --additional-suffix=.txt "$big" part &&
        for d in 0 1 2 3 4 5 6 7 8 9; do mkdir "d$d" && mv part"$d"??.txt "d$d/"; done)
    mv "$tree.tmp" "$tree"
fi
[ -d "$docx" ] || python3 "$shared/make_corpus.py" --docx --size 6 --files 300 --out "$docx" >/dev/null
mapfile -t tree_files < <(find "$tree" -type f -name '*.txt' | sort)
mapfile -t docx_files < <(find "$docx" -type f -name '*.docx' | sort)

# run RUNS COMMAND... -> "median_wall_s peak_rss_mib cpu_s"
run() {
    local runs=$1; shift
    local tmp i rows=()
    tmp=$(mktemp)
    for i in $(seq "$runs"); do
        note_load "$i ($(basename "$1"))"
        /usr/bin/time -v -o "$tmp" "$@" >/dev/null 2>&1 || true
        rows+=("$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0;
                                 for (i = 1; i <= n; i++) s = s * 60 + t[i]; w = s}
                               /Maximum resident/ {r = $2} /User time/ {u = $2} /System time/ {y = $2}
                               END {print w, r, u + y}' "$tmp")")
    done
    rm -f "$tmp"
    printf '%s\n' "${rows[@]}" | sort -g | awk -v n="${#rows[@]}" '
        {a[NR] = $0; if ($2 > rss) rss = $2}
        END {split(a[int((n + 1) / 2)], m, " "); printf "%.2f %d %.2f\n", m[1], rss / 1024, m[3]}'
}

mb_of() { du -b --apparent-size -c "$@" | tail -n 1 | awk '{printf "%.1f", $1 / 1e6}'; }
ours_wall=1
row() { # input tool mb result [ours]
    local input=$1 tool=$2 mb=$3 r=$4
    read -r wall rss cpu <<<"$r"
    [ "${5:-}" = ours ] && ours_wall=$wall
    printf '| %s | %s | %s | %s | %s | %.0f | %s |\n' "$input" "$tool" "$wall" "$cpu" "$rss" \
        "$(echo "$mb / $wall" | bc -l)" "$(echo "$wall / $ours_wall" | bc -l | xargs printf '%.1f')"
}

text_peers() { # label runs mb FILE...
    local label=$1 runs=$2 mb=$3; shift 3
    row "$label" "sort + uniq -c (coreutils_count.sh -i)" "$mb" "$(run "$runs" "$peers/coreutils_count.sh" -i "$@")"
    row "$label" "Python Counter (py_counter.py -i)" "$mb" "$(run "$runs" python3 "$peers/py_counter.py" -i "$@")"
    row "$label" "wc -w, no tally (wc_scan.sh)" "$mb" "$(run "$runs" "$peers/wc_scan.sh" "$@")"
}

table=$(mktemp)
cleanup_files+=("$table")
exec 3>&1 >"$table" # the rows first: the heading gives the load of their runs
mb=$(mb_of "$big")
row "1 GB, one file" "corvalen count --combined" "$mb" "$(run "$BIG_RUNS" "$bin" count --combined "$big")" ours
row "1 GB, one file" "corvalen count --combined --format xlsx" "$mb" \
    "$(run "$BIG_RUNS" "$bin" count --combined --format xlsx -o "$corpus/.cli-bench.xlsx" "$big")"
text_peers "1 GB, one file" "$BIG_RUNS" "$mb" "$big"

mb=$(mb_of "${tree_files[@]}")
row "1 GB, 1,000 files" "corvalen count --combined (folder)" "$mb" "$(run "$BIG_RUNS" "$bin" count --combined "$tree")" ours
row "1 GB, 1,000 files" "corvalen count (per file, folder)" "$mb" "$(run "$BIG_RUNS" "$bin" count "$tree")"
text_peers "1 GB, 1,000 files" "$BIG_RUNS" "$mb" "${tree_files[@]}"

mb=$(python3 -c "print(6)") # MB of document text, as generated
row "300 .docx, 6 MB of text" "corvalen count --combined (folder)" "$mb" "$(run "$RUNS" "$bin" count --combined "$docx")" ours
row "300 .docx, 6 MB of text" "corvalen count (per file, folder)" "$mb" "$(run "$RUNS" "$bin" count "$docx")"
if command -v docx2txt >/dev/null; then
    row "300 .docx, 6 MB of text" "docx2txt + Counter (docx_count.sh docx2txt)" "$mb" \
        "$(run "$RUNS" "$peers/docx_count.sh" docx2txt "${docx_files[@]}")"
fi
rm -f "$corpus/.cli-bench.xlsx"
exec >&3 3>&-
echo "## corvalen count, end to end (RUNS=$RUNS, BIG_RUNS=$BIG_RUNS, $(nproc) cores, $(load_range) before the runs)"
echo
echo "| input | tool | wall s | CPU s | peak RSS MiB | MB/s | x Corvalen's wall time |"
echo "|---|---|---:|---:|---:|---:|---:|"
cat "$table"
echo
echo "MB/s: MB (10^6 bytes) of text per wall second. bench/docx.sh has the slower .docx peers."
echo
