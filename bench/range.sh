#!/usr/bin/env bash
# What the range costs: `corvalen count --combined` of 1,000 files with --range against the same
# count without it, side by side. The two commands alternate, run after run, so that the shared
# machine's drifts fall on both alike.
#
#   bench/range.sh                     (also run by bench/run.sh range)
#   RUNS=7 SIZE=1000 bench/range.sh    (runs of each command; MB of text over the 1,000 files)
#
# The files are made once under bench/corpus/ by the shared generator (same seed, same bytes).
# Each figure is the median of the runs, wall time and CPU time (user + system: less moved by
# the load of a shared machine); the ratios are of the medians. Output goes to /dev/null. Each
# round's load average goes to standard error before it, and the heading gives their range.
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-5}
SIZE=${SIZE:-200}

build_targets corvalen
mkdir -p "$corpus"
tree=$corpus/range$SIZE
[ -d "$tree" ] || python3 "$shared/make_corpus.py" --size "$SIZE" --files 1000 --out "$tree" >/dev/null
files=$(find "$tree" -type f | wc -l)

# timed COMMAND... -> "wall_s cpu_s"
timed() {
    local tmp
    tmp=$(mktemp)
    /usr/bin/time -f '%e %U %S' -o "$tmp" "$@" >/dev/null 2>&1
    tail -n 1 "$tmp" | awk '{printf "%s %.2f\n", $1, $2 + $3}'
    rm -f "$tmp"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

plain=() ranged=() plain_cpu=() ranged_cpu=()
"$bin" count --combined "$tree" >/dev/null 2>&1 # the files into the page cache
for i in $(seq "$RUNS"); do
    note_load "$i"
    # Which goes first changes every run.
    for which in $( [ $((i % 2)) -eq 1 ] && echo "plain ranged" || echo "ranged plain"); do
        if [ "$which" = plain ]; then
            read -r w c <<<"$(timed "$bin" count --combined "$tree")"
            plain+=("$w") plain_cpu+=("$c")
        else
            read -r w c <<<"$(timed "$bin" count --combined --range "$tree")"
            ranged+=("$w") ranged_cpu+=("$c")
        fi
    done
done
p=$(median "${plain[@]}") pc=$(median "${plain_cpu[@]}")
r=$(median "${ranged[@]}") rc=$(median "${ranged_cpu[@]}")

echo "## The range: corvalen count --combined with and without --range (RUNS=$RUNS, $(nproc) cores, $(load_range) before the rounds)"
echo
echo "| input | command | wall s | CPU s | wall s of each run | x the time without: wall / CPU |"
echo "|---|---|---:|---:|---|---:|"
printf '| %s MB, %s files | corvalen count --combined | %s | %s | %s | |\n' "$SIZE" "$files" "$p" "$pc" "${plain[*]}"
printf '| %s MB, %s files | corvalen count --combined --range | %s | %s | %s | %.3f / %.3f |\n' "$SIZE" "$files" \
    "$r" "$rc" "${ranged[*]}" "$(echo "$r / $p" | bc -l)" "$(echo "$rc / $pc" | bc -l)"
echo
