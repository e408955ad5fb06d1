#!/usr/bin/env bash
# corvalen context against corvalen count on the 100 MB corpus. The workbench's concordance of the
# same word has its own benchmark (bench/workbench.sh).
#
#   bench/context.sh            (also run by bench/run.sh context)
#   RUNS=7 bench/context.sh     (rounds; default 5)
#   VIEW=0 bench/context.sh     (without the context view's figures)
#
# The two commands take turns: each round runs the count, then the context, so that a burst of
# load on the shared machine falls on both. Per command: the median wall time, the median CPU time
# (user + system) and the largest peak RSS; "x count" is the median over the rounds of the
# context's wall time divided by the count's in the same round. Each round's load average goes to
# standard error before it, and the heading gives their range (1-minute figures).
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-5}
WORD=${WORD:-the}

build_targets corvalen
file=${CORPUS_FILE:-$(corpus_file 100)}

results=$(mktemp)
tmp=$(mktemp)
cleanup_files+=("$results" "$tmp")
commands=(
    "corvalen count|$bin count $file"
    "corvalen context --combined $WORD|$bin context --combined $WORD $file"
)
for round in $(seq "$RUNS"); do
    note_load "$round"
    for i in "${!commands[@]}"; do
        IFS='|' read -r _ cmd <<<"${commands[$i]}"
        # shellcheck disable=SC2086 # the command is split into its words on purpose
        /usr/bin/time -f "%e %U %S %M" -o "$tmp" $cmd >/dev/null 2>&1
        echo "$i $round $(tail -n 1 "$tmp")" >>"$results"
    done
done

median() { sort -g | awk '{a[NR] = $1} END {printf "%.2f", a[int((NR + 1) / 2)]}'; }

echo "## corvalen context $WORD on $(basename "$file") (RUNS=$RUNS rounds taking turns, $(nproc) cores, $(load_range) before the rounds)"
echo
echo "| command | wall s, median | CPU s, median | peak RSS MiB | x count's wall |"
echo "|---|---:|---:|---:|---:|"
for i in "${!commands[@]}"; do
    IFS='|' read -r label _ <<<"${commands[$i]}"
    wall=$(awk -v i="$i" '$1 == i {print $3}' "$results" | median)
    cpu=$(awk -v i="$i" '$1 == i {print $4 + $5}' "$results" | median)
    rss=$(awk -v i="$i" '$1 == i && $6 > r {r = $6} END {print int(r / 1024)}' "$results")
    times=
    if [ "$i" -gt 0 ]; then
        times=$(awk -v i="$i" '$1 == i {a[$2] = $3} $1 == 0 {b[$2] = $3}
            END {for (r in a) if (b[r] > 0) print a[r] / b[r]}' "$results" | median)
    fi
    printf '| `%s` | %s | %s | %s | %s |\n' "$label" "$wall" "$cpu" "$rss" "$times"
done
echo
echo "Occurrences: $("$bin" context --combined "$WORD" "$file" 2>&1 >/dev/null | sed -n 's/ Occurrences: //p')"
echo
