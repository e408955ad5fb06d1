#!/usr/bin/env bash
# What the range and the dispersion cost: `corvalen count --combined` of many files with --range
# and with --dispersion against the same count without either, side by side. The commands take
# turns, run after run, so that the shared machine's drifts fall on all of them alike.
#
#   bench/range.sh                                 (also run by bench/run.sh range)
#   RUNS=7 SIZE=1000 FILES=1000 bench/range.sh     (runs of each command; MB of text; files)
#   OWN=100 FILES=10000 bench/range.sh             (files of 100 distinct words each, none shared:
#                                                   what grows with files x distinct words)
#
# The files are made once under bench/corpus/ by the shared generator (same seed, same bytes); with
# OWN=N, each file holds N words of its own, ten times each, instead.
# Each figure is the median of the runs, wall time and CPU time (user + system: less moved by
# the load of a shared machine); the ratios are of the medians. Output goes to /dev/null. Each
# round's load average goes to standard error before it, and the heading gives their range.
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-5}
SIZE=${SIZE:-200}
FILES=${FILES:-1000}
OWN=${OWN:-}

build_targets corvalen
mkdir -p "$corpus"
if [ -n "$OWN" ]; then
    tree=$corpus/own${OWN}x$FILES
    [ -d "$tree" ] || python3 - "$tree" "$FILES" "$OWN" <<'PY'
import os, sys
tree, files, own = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for f in range(files):
    folder = os.path.join(tree, "%03d" % (f // 1000))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.txt" % f), "w") as out:
        out.write("\n".join(" ".join("w%dx%d" % (f, k) for k in range(own)) for _ in range(10)) + "\n")
PY
    SIZE=$(du -sm --apparent-size "$tree" | cut -f1)
else
    tree=$corpus/range$SIZE
    [ "$FILES" = 1000 ] || tree=${tree}x$FILES
    [ -d "$tree" ] || python3 "$shared/make_corpus.py" --size "$SIZE" --files "$FILES" --out "$tree" >/dev/null
fi
files=$(find "$tree" -type f | wc -l)
words=$("$bin" count --combined "$tree" 2>&1 >/dev/null | sed -n 's/^ Word Count: //p')
distinct=$("$bin" count --combined "$tree" 2>/dev/null | wc -l)

# timed COMMAND... -> "wall_s cpu_s"
timed() {
    local tmp
    tmp=$(mktemp)
    /usr/bin/time -f '%e %U %S' -o "$tmp" "$@" >/dev/null 2>&1
    tail -n 1 "$tmp" | awk '{printf "%s %.2f\n", $1, $2 + $3}'
    rm -f "$tmp"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

options=("" "--range" "--dispersion")
declare -A wall cpu
for i in $(seq "$RUNS"); do
    note_load "$i"
    # Which goes first changes every run.
    for k in $(seq 0 2 | awk -v s="$i" '{print ($1 + s) % 3}'); do
        # shellcheck disable=SC2086 # the option is one word or none
        read -r w c <<<"$(timed "$bin" count --combined ${options[$k]} "$tree")"
        wall[$k]="${wall[$k]:-} $w" cpu[$k]="${cpu[$k]:-} $c"
    done
done
# shellcheck disable=SC2086 # the runs' figures are words
p=$(median ${wall[0]}) pc=$(median ${cpu[0]})

echo "## The range and the dispersion: corvalen count --combined with --range and with --dispersion (RUNS=$RUNS, $(nproc) cores, $(load_range) before the rounds)"
echo
echo "| input | command | wall s | CPU s | wall s of each run | x the time without: wall / CPU |"
echo "|---|---|---:|---:|---|---:|"
for k in 0 1 2; do
    # shellcheck disable=SC2086
    w=$(median ${wall[$k]}) c=$(median ${cpu[$k]})
    ratio=""
    [ "$k" = 0 ] || ratio=$(printf '%.3f / %.3f' "$(echo "$w / $p" | bc -l)" "$(echo "$c / $pc" | bc -l)")
    printf '| %s MB, %s files, %s words, %s distinct | corvalen count --combined %s | %s | %s | %s | %s |\n' \
        "$SIZE" "$files" "$words" "$distinct" "${options[$k]}" "$w" "$c" "${wall[$k]# }" "$ratio"
done
echo
