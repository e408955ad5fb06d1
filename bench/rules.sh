#!/usr/bin/env bash
# The word rules of corvalen count against the default rules and against a script writer's Unicode
# words (Python's re, py_regex_words.py), on the 100 MB corpus, one file counted combined. Corpus
# words and blank-line paragraphs stand beside the default rules (a paragraph a line) they are
# measured against.
#
#   bench/rules.sh              (also run by bench/run.sh rules)
#   RUNS=7 bench/rules.sh       (rounds; default 5)
#
# The commands take turns: each round runs every command once, in the same order, so that a
# burst of load on the shared machine falls on all of them rather than on one. Per command:
# median and minimum wall time over the rounds, the median CPU time (user + system; more than the
# wall time means both cores worked), and the largest peak RSS (/usr/bin/time). Ratios are taken
# within each round (a command's wall time over the default rules', the peer's over the Unicode
# rule's) and their median is shown. Output goes to /dev/null. Each round's load average goes to
# standard error before it, and the heading gives their range (1-minute figures).
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-5}

build_targets corvalen
file=$(corpus_file 100)

# label | target | command [| the index of a second baseline]; the first is the baseline of the
# ratios, and a row with a second one gives its ratio to that one too (lemmas against the same word
# rule without them).
commands=(
    "default rules||$bin count --combined $file"
    "--words unicode|peer ≥ 5x|$bin count --combined --words unicode $file"
    "--words corpus|≤ 2.5x|$bin count --combined --words corpus $file"
    "--paragraphs blank-lines|≤ 1.05x|$bin count --combined --paragraphs blank-lines $file"
    "--punctuation all|≤ 1.3x|$bin count --combined --punctuation all $file"
    "--stop-words en|≤ 1.3x|$bin count --combined --stop-words en $file"
    "--min-length 3|≤ 1.3x|$bin count --combined --min-length 3 $file"
    "--stem english|≤ 1.5x|$bin count --combined --stem english $file"
    "--lemmas en|≤ 1.5x|$bin count --combined --lemmas en $file"
    "--words unicode --lemmas en|≤ 1.5x --words unicode|$bin count --combined --words unicode --lemmas en $file|1"
    "--words corpus --lemmas en|≤ 1.5x --words corpus|$bin count --combined --words corpus --lemmas en $file|2"
    "--ngrams 2|≤ 4x, < 2 GB|$bin count --combined --ngrams 2 $file"
    "--ngrams 3|≤ 4x, < 2 GB|$bin count --combined --ngrams 3 $file"
    "py_regex_words.py (peer)||python3 $shared/peers/py_regex_words.py $file"
)

results=$(mktemp)
tmp=$(mktemp)
cleanup_files+=("$results" "$tmp")
for round in $(seq "$RUNS"); do
    note_load "$round"
    for i in "${!commands[@]}"; do
        IFS='|' read -r _ _ cmd _ <<<"${commands[$i]}"
        # shellcheck disable=SC2086 # the command is split into its words on purpose
        if ! /usr/bin/time -f "%e %U %S %M" -o "$tmp" $cmd >/dev/null 2>/dev/null; then
            echo "failed: $cmd" >&2
            exit 1
        fi
        echo "$i $round $(tail -n 1 "$tmp")" >>"$results"
    done
done

# median wall, minimum wall, median CPU, peak RSS MiB of command i
stats() {
    local walls cpus rss
    walls=$(awk -v i="$1" '$1 == i {print $3}' "$results" | sort -g)
    cpus=$(awk -v i="$1" '$1 == i {print $4 + $5}' "$results" | sort -g)
    rss=$(awk -v i="$1" '$1 == i && $6 > r {r = $6} END {print int(r / 1024)}' "$results")
    printf '%s %s %s %s\n' "$(median <<<"$walls")" "$(head -n 1 <<<"$walls" | xargs printf '%.2f')" \
        "$(median <<<"$cpus")" "$rss"
}
median() { awk '{a[NR] = $1} END {printf "%.2f", a[int((NR + 1) / 2)]}'; }
# the median over the rounds of command i's wall time divided by command j's in the same round:
# a burst of load that fell on one round weighs little
ratio() {
    awk -v i="$1" -v j="$2" '$1 == i {a[$2] = $3} $1 == j {b[$2] = $3}
        END {for (r in a) if (b[r] > 0) print a[r] / b[r]}' "$results" | sort -g | median
}

echo "## corvalen count --combined, word rules, on the 100 MB corpus"
echo "(RUNS=$RUNS rounds taking turns, $(nproc) cores, $(load_range) before the rounds)"
echo
echo "| command | wall s, median | wall s, min | CPU s, median | peak RSS MiB | x default's wall | target |"
echo "|---|---:|---:|---:|---:|---:|---|"
last=$((${#commands[@]} - 1))
for i in "${!commands[@]}"; do
    IFS='|' read -r label target _ base <<<"${commands[$i]}"
    read -r wall min cpu rss <<<"$(stats "$i")"
    times=$(ratio "$i" 0)
    if [ -n "$base" ]; then
        IFS='|' read -r baseLabel _ <<<"${commands[$base]}"
        target="$target: $(ratio "$i" "$base" | xargs printf '%.2f')x the wall time of \`$baseLabel\`"
    fi
    if [ "$i" -eq "$last" ]; then
        target="$(ratio "$i" 1 | xargs printf '%.1f')x the wall time of \`--words unicode\`"
    fi
    printf '| `%s` | %s | %s | %s | %s | %s | %s |\n' "$label" "$wall" "$min" "$cpu" "$rss" "$times" "$target"
done
echo
echo "x: the median over the rounds of the wall time divided by the default rules' in the same round."
echo
