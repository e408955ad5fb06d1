#!/usr/bin/env bash
# Benchmarks Corvalen against the peers on the same files, side by side in one run.
#
#   bench/run.sh [engine] [docx] [formats] [cli] [sort] [rules] [gui] [context] [workbench] [range] [corpus]   (default: all that exist)
#   SIZES="100 1000" RUNS=3 bench/run.sh engine      (corpus sizes in MB; runs per tool)
#
# Corpora are made once under bench/corpus/ by the shared generator (same seed, same bytes).
# Each figure is the median wall time of RUNS runs; peak RSS is the largest of those runs. Every
# script says each round's load average on standard error before it, and gives their range in its
# table's heading: a figure of a shared machine means little without it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
shared=${CORVALEN_SHARED_BENCH:-$root/../shared/bench}
export BENCH_BUILD=$root/build-bench
export BENCH_CORPUS=$here/corpus
export BENCH_SHARED=$shared
source "$here/common.sh"
RUNS=${RUNS:-3}
SIZES=${SIZES:-"100 1000"}

"$root/tools/install-deps.sh" --bench
cmake -S "$root" -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVALEN_BUILD_TESTS=OFF >/dev/null
cmake --build "$BENCH_BUILD" >/dev/null
mkdir -p "$BENCH_CORPUS"

# measure LABEL COMMAND... -> prints "median_wall_s max_rss_mib"
measure() {
    local walls=() rss=0 out tmp i
    tmp=$(mktemp)
    for i in $(seq "$RUNS"); do
        note_load "$i ($(basename "$1"))"
        /usr/bin/time -o "$tmp" -f "%e %M" "$@" >/dev/null 2>&1
        out=$(tail -n 1 "$tmp")
        walls+=("${out% *}")
        local kb=${out#* }
        [ "$kb" -gt "$rss" ] && rss=$kb
    done
    rm -f "$tmp"
    local median
    median=$(printf '%s\n' "${walls[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    echo "$median $((rss / 1024))"
}

engine() {
    local rows
    rows=$(engine_rows)
    echo "## Engine: combined mode, ignore case, UTF-8 text (RUNS=$RUNS, $(nproc) cores, $(load_range) before the runs)"
    echo
    echo "| input | tool | wall s | MB/s | peak RSS MiB | Corvalen is x times faster |"
    echo "|---|---|---:|---:|---:|---:|"
    echo "$rows"
    echo
}

engine_rows() {
    local peers=$shared/peers
    for size in $SIZES; do
        local file=$BENCH_CORPUS/c$size.txt
        [ -s "$file" ] || python3 "$shared/make_corpus.py" --size "$size" --out "$file" >/dev/null
        local mb
        mb=$(stat -c %s "$file" | awk '{printf "%.1f", $1 / 1e6}')
        local ours
        ours=$(measure "$BENCH_BUILD/bin/bench_engine" "$file")
        local ow=${ours% *}
        printf '| %s MB | Corvalen engine | %s | %.0f | %s | |\n' "$size" "$ow" "$(echo "$mb / $ow" | bc -l)" "${ours#* }"
        local name cmd r w
        for name in "sort + uniq -c (coreutils_count.sh -i)" "Python Counter (py_counter.py -i)" "wc -w (wc_scan.sh)"; do
            case $name in
                sort*) cmd=("$peers/coreutils_count.sh" -i "$file") ;;
                Python*) cmd=(python3 "$peers/py_counter.py" -i "$file") ;;
                wc*) cmd=("$peers/wc_scan.sh" "$file") ;;
            esac
            r=$(measure "${cmd[@]}")
            w=${r% *}
            printf '| %s MB | %s | %s | %.0f | %s | %.1f |\n' "$size" "$name" "$w" \
                "$(echo "$mb / $w" | bc -l)" "${r#* }" "$(echo "$w / $ow" | bc -l)"
        done
    done
}

sections=("$@")
[ ${#sections[@]} -eq 0 ] && sections=(engine docx formats cli sort rules gui context workbench range corpus)
for s in "${sections[@]}"; do
    if [ "$s" = engine ]; then
        engine
    elif [ -x "$here/$s.sh" ]; then
        "$here/$s.sh"
    else
        echo "(no $s benchmark here)"
    fi
done
