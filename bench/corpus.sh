#!/usr/bin/env bash
# The corpus commands against the count of the same files, on the 100 MB corpus (one file) and on
# it cut into 1,000 files: concordance, dispersion, collocates, clusters, keywords, and what
# --dispersion and --stats cost a count.
#
#   bench/corpus.sh              (also run by bench/run.sh corpus)
#   RUNS=7 bench/corpus.sh       (rounds; default 5)
#
# The commands take turns: each round runs every command once, in the same order, so that a burst
# of load on the shared machine falls on all of them rather than on one; the load average is
# printed before each round. Per command: median wall and CPU time (user + system) and the largest
# peak RSS; "x base" is the median over the rounds of its wall time over its baseline's in the same
# round. Output goes to /dev/null.
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-5}

build_targets corvalen
file=$(corpus_file 100)
tree=$corpus/corpus100x1000
if [ ! -d "$tree" ]; then
    # The same text cut into 1,000 files at line ends: the count over them equals the count of the
    # one file, so the two corpora differ only in their files.
    mkdir -p "$tree"
    split -n l/1000 -d -a 4 --additional-suffix=.txt "$file" "$tree/part"
fi
halves=$corpus/halves100
if [ ! -d "$halves" ]; then
    mkdir -p "$halves"
    split -n l/2 -d --additional-suffix=.txt "$file" "$halves/half"
fi
target=$halves/half00.txt
reference=$halves/half01.txt
wordlist=$corpus/words1m.tsv
if [ ! -s "$wordlist" ]; then
    # A published frequency list stands in: a million words with their counts, as count writes them.
    python3 - "$wordlist" <<'EOF'
import random, sys
random.seed(7)
with open(sys.argv[1], "w", encoding="utf-8") as out:
    for i in range(1000000):
        out.write("w%x\t%d\r\n" % (i, int(1e7 / (i + 1)) + random.randint(0, 3)))
EOF
fi
# A word the count gives a few hundred times: a rare node.
rare=$("$bin" count --combined --sort count-desc --min-count 200 "$file" 2>/dev/null | tail -n 1 | cut -f1 | sed 's/ *$//')

# label | baseline label (empty: none) | target | command
commands=(
    "count||baseline|$bin count --combined $file"
    "context the --sort 1R,2R,3R|count|≤ 3x|$bin context --sort 1R,2R,3R the $file"
    "dispersion the|count|≤ 1.5x|$bin dispersion the $file"
    "dispersion th*|dispersion the|≤ 1.5x|$bin dispersion th* $file"
    "collocates the|count|≤ 2x, < 1 GB|$bin collocates the $file"
    "collocates $rare|count|≤ 1.3x|$bin collocates $rare $file"
    "clusters the --size 2,5|count|≤ 3x, < 2 GB|$bin clusters --size 2,5 the $file"
    "count target|||$bin count --combined $target"
    "count reference|||$bin count --combined $reference"
    "keywords (reference files)|count target + count reference|≤ 1.3x|$bin keywords --reference $reference $target"
    "keywords (1,000,000-row list)|count target|≤ 1.3x|$bin keywords --reference-list $wordlist $target"
    "count --range (1,000 files)|||$bin count --combined --range $tree"
    "count --dispersion (1,000 files)|count --range (1,000 files)|≤ 1.2x|$bin count --combined --dispersion $tree"
    "count --stats (1,000 files)|count --range (1,000 files)|≤ 1.3x|$bin count --combined --stats $tree"
)

results=$(mktemp)
tmp=$(mktemp)
cleanup_files+=("$results" "$tmp")
"$bin" count --combined "$file" >/dev/null 2>&1 # the files into the page cache
"$bin" count --combined "$tree" >/dev/null 2>&1
for round in $(seq "$RUNS"); do
    note_load "$round"
    for i in "${!commands[@]}"; do
        IFS='|' read -r _ _ _ cmd <<<"${commands[$i]}"
        # shellcheck disable=SC2086 # the command is split into its words on purpose
        if ! /usr/bin/time -f "%e %U %S %M" -o "$tmp" $cmd >/dev/null 2>/dev/null; then
            echo "failed: $cmd" >&2
            exit 1
        fi
        echo "$i $round $(tail -n 1 "$tmp")" >>"$results"
    done
done

median() { awk '{a[NR] = $1} END {printf "%.2f", a[int((NR + 1) / 2)]}'; }
index_of() {
    local i
    for i in "${!commands[@]}"; do
        [ "$(cut -d'|' -f1 <<<"${commands[$i]}")" = "$1" ] && echo "$i" && return
    done
}
# wall time of command i in a round; a "+" in a baseline's name adds two commands' times
wall_of() { awk -v i="$1" -v r="$2" '$1 == i && $2 == r {print $3}' "$results"; }
echo "## Corpus commands on the 100 MB corpus (RUNS=$RUNS rounds taking turns, $(nproc) cores, $(load_range))"
echo
echo "| command | wall s, median | CPU s, median | peak RSS MiB | x base's wall | base | aim |"
echo "|---|---:|---:|---:|---:|---|---|"
for i in "${!commands[@]}"; do
    IFS='|' read -r label base aim _ <<<"${commands[$i]}"
    wall=$(awk -v i="$i" '$1 == i {print $3}' "$results" | sort -g | median)
    cpu=$(awk -v i="$i" '$1 == i {print $4 + $5}' "$results" | sort -g | median)
    rss=$(awk -v i="$i" '$1 == i && $6 > r {r = $6} END {print int(r / 1024)}' "$results")
    times=""
    if [ -n "$base" ]; then
        IFS='+' read -r -a parts <<<"$base"
        ratios=()
        for r in $(seq "$RUNS"); do
            b=0
            for part in "${parts[@]}"; do
                part=$(sed 's/^ *//; s/ *$//' <<<"$part")
                b=$(echo "$b + $(wall_of "$(index_of "$part")" "$r")" | bc -l)
            done
            ratios+=("$(echo "$(wall_of "$i" "$r") / $b" | bc -l)")
        done
        times=$(printf '%s\n' "${ratios[@]}" | sort -g | median)
    fi
    printf '| `%s` | %s | %s | %s | %s | %s | %s |\n' "$label" "$wall" "$cpu" "$rss" "$times" "$base" "$aim"
done
