#!/usr/bin/env bash
# The alphabetical orders of corvalen count against the default order, on the 100 MB corpus
# (one file, so the default per-file mode gives one block of every distinct word).
#
#   bench/sort.sh            (also run by bench/run.sh sort; RUNS rounds, default 3)
#
# The orders take turns: each round runs every one once, so that a burst of load falls on all of
# them. Median wall and CPU (user + system) times; each round's load average goes to standard
# error before it, and the heading gives their range.
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-3}

build_targets corvalen
file=$(corpus_file 100)

orders=(count count-desc word word-desc)
results=$(mktemp)
tmp=$(mktemp)
cleanup_files+=("$results" "$tmp")
for round in $(seq "$RUNS"); do
    note_load "$round"
    for order in "${orders[@]}"; do
        /usr/bin/time -f "%e %U %S" -o "$tmp" "$bin" count --sort "$order" "$file" >/dev/null 2>&1
        echo "$order $(tail -n 1 "$tmp")" >>"$results"
    done
done
median() { sort -g | awk '{a[NR] = $1} END {printf "%.2f", a[int((NR + 1) / 2)]}'; }

echo "## corvalen count --sort on the 100 MB corpus (RUNS=$RUNS rounds, $(nproc) cores, $(load_range) before the rounds)"
echo
echo "| command | wall s | CPU s | x the default order's wall time |"
echo "|---|---:|---:|---:|"
base=
for order in "${orders[@]}"; do
    wall=$(awk -v o="$order" '$1 == o {print $2}' "$results" | median)
    cpu=$(awk -v o="$order" '$1 == o {print $3 + $4}' "$results" | median)
    [ -z "$base" ] && base=$wall
    printf '| `corvalen count --sort %s` | %s | %s | %.2f |\n' "$order" "$wall" "$cpu" "$(echo "$wall / $base" | bc -l)"
done
echo
