#!/usr/bin/env bash
# corvalen context against corvalen count on the 100 MB corpus. The workbench's concordance of the
# same word has its own benchmark (bench/workbench.sh).
#
#   bench/context.sh            (also run by bench/run.sh context; RUNS runs each, median wall time)
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-3}
WORD=${WORD:-the}

build_targets corvalen
file=${CORPUS_FILE:-$(corpus_file 100)}

# median wall seconds, user + system seconds and peak RSS MiB of RUNS runs of the command
run() {
    local tmp rows=()
    tmp=$(mktemp)
    for _ in $(seq "$RUNS"); do
        /usr/bin/time -f "%e %U %S %M" -o "$tmp" "$@" >/dev/null 2>&1
        rows+=("$(tail -n 1 "$tmp" | awk '{printf "%.2f %.2f %d", $1, $2 + $3, $4 / 1024}')")
    done
    rm -f "$tmp"
    printf '%s\n' "${rows[@]}" | sort -g | awk -v n="${#rows[@]}" '{a[NR] = $0} END {print a[int((n + 1) / 2)]}'
}

echo "## corvalen context $WORD on $(basename "$file") (RUNS=$RUNS, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
echo
echo "| command | wall s | CPU s | peak RSS MiB | x count's wall time |"
echo "|---|---:|---:|---:|---:|"
read -r cw cc cr <<<"$(run "$bin" count "$file")"
printf '| `corvalen count` | %s | %s | %s | |\n' "$cw" "$cc" "$cr"
read -r xw xc xr <<<"$(run "$bin" context "$WORD" "$file")"
printf '| `corvalen context %s` | %s | %s | %s | %.2f |\n' "$WORD" "$xw" "$xc" "$xr" "$(echo "$xw / $cw" | bc -l)"
echo
echo "Occurrences: $("$bin" context "$WORD" "$file" 2>&1 >/dev/null | sed -n 's/ Occurrences: //p')"
echo
