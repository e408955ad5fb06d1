#!/usr/bin/env bash
# What the range costs: `corvalen count --combined` of 1,000 files with --range against the same
# count without it, side by side. The two commands alternate, run after run, so that the shared
# machine's drifts fall on both alike.
#
#   bench/range.sh                     (also run by bench/run.sh range)
#   RUNS=7 SIZE=1000 bench/range.sh    (runs of each command; MB of text over the 1,000 files)
#
# The files are made once under bench/corpus/ by the shared generator (same seed, same bytes).
# Each figure is the median wall time of the runs; the ratio is of the medians. Output goes to
# /dev/null.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
shared=${BENCH_SHARED:-${CORVALEN_SHARED_BENCH:-$root/../shared/bench}}
build=${BENCH_BUILD:-$root/build-bench}
corpus=${BENCH_CORPUS:-$here/corpus}
RUNS=${RUNS:-5}
SIZE=${SIZE:-200}
bin=$build/bin/corvalen

if [ ! -x "$bin" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVALEN_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target corvalen >/dev/null
fi
mkdir -p "$corpus"
tree=$corpus/range$SIZE
[ -d "$tree" ] || python3 "$shared/make_corpus.py" --size "$SIZE" --files 1000 --out "$tree" >/dev/null
files=$(find "$tree" -type f | wc -l)

# wall COMMAND... -> seconds
wall() {
    local tmp
    tmp=$(mktemp)
    /usr/bin/time -f %e -o "$tmp" "$@" >/dev/null 2>&1
    tail -n 1 "$tmp"
    rm -f "$tmp"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

plain=() ranged=()
"$bin" count --combined "$tree" >/dev/null 2>&1 # the files into the page cache
for i in $(seq "$RUNS"); do
    # Which goes first changes every run.
    if [ $((i % 2)) -eq 1 ]; then
        plain+=("$(wall "$bin" count --combined "$tree")")
        ranged+=("$(wall "$bin" count --combined --range "$tree")")
    else
        ranged+=("$(wall "$bin" count --combined --range "$tree")")
        plain+=("$(wall "$bin" count --combined "$tree")")
    fi
done
p=$(median "${plain[@]}")
r=$(median "${ranged[@]}")

echo "## The range: corvalen count --combined with and without --range (RUNS=$RUNS, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
echo
echo "| input | command | wall s (median) | runs | with the range / without |"
echo "|---|---|---:|---|---:|"
printf '| %s MB, %s files | corvalen count --combined | %s | %s | |\n' "$SIZE" "$files" "$p" "${plain[*]}"
printf '| %s MB, %s files | corvalen count --combined --range | %s | %s | %.3f |\n' "$SIZE" "$files" "$r" \
    "${ranged[*]}" "$(echo "$r / $p" | bc -l)"
echo
