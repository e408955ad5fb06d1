#!/usr/bin/env bash
# The alphabetical orders of corvalen count against the default order, on the 100 MB corpus
# (one file, so the default per-file mode gives one block of every distinct word).
#
#   bench/sort.sh            (also run by bench/run.sh sort; RUNS runs per order, median wall time)
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-3}

build_targets corvalen
file=$(corpus_file 100)

# median wall seconds and user + system seconds of RUNS runs of the command
run() {
    local tmp rows=()
    tmp=$(mktemp)
    for _ in $(seq "$RUNS"); do
        /usr/bin/time -f "%e %U %S" -o "$tmp" "$@" >/dev/null 2>&1
        rows+=("$(tail -n 1 "$tmp" | awk '{printf "%.2f %.2f", $1, $2 + $3}')")
    done
    rm -f "$tmp"
    printf '%s\n' "${rows[@]}" | sort -g | awk -v n="${#rows[@]}" '{a[NR] = $0} END {print a[int((n + 1) / 2)]}'
}

echo "## corvalen count --sort on the 100 MB corpus (RUNS=$RUNS, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
echo
echo "| command | wall s | CPU s | x the default order's wall time |"
echo "|---|---:|---:|---:|"
base=
for order in count count-desc word word-desc; do
    read -r wall cpu <<<"$(run "$bin" count --sort "$order" "$file")"
    [ -z "$base" ] && base=$wall
    printf '| `corvalen count --sort %s` | %s | %s | %.2f |\n' "$order" "$wall" "$cpu" "$(echo "$wall / $base" | bc -l)"
done
echo
