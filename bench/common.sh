# What the benchmark scripts share; sourced, not run. Sets here, root, shared, build, corpus and
# bin (BENCH_SHARED, BENCH_BUILD and BENCH_CORPUS choose other places) and gives:
#   build_targets TARGET...   builds a Release tree (no tests) when a target's program is missing
#   corpus_file SIZE          the path of the one-file corpus of SIZE MB, made once
#   note_load ROUND           before a round: its load average on standard error, kept for
#   load_range                the lowest and highest 1-minute load of the rounds noted
# and cleanup_files, the temporary files removed on exit.
here=$(cd "$(dirname "${BASH_SOURCE[1]}")" && pwd)
root=$(cd "$here/.." && pwd)
shared=${BENCH_SHARED:-${CORVALEN_SHARED_BENCH:-$root/../shared/bench}}
build=${BENCH_BUILD:-$root/build-bench}
corpus=${BENCH_CORPUS:-$here/corpus}
bin=$build/bin/corvalen

build_targets() {
    local t
    for t in "$@"; do
        if [ ! -x "$build/bin/$t" ]; then
            cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVALEN_BUILD_TESTS=OFF >/dev/null
            cmake --build "$build" --target "$@" >/dev/null
            return
        fi
    done
}

corpus_file() {
    local f=$corpus/c$1.txt
    mkdir -p "$corpus"
    [ -s "$f" ] || python3 "$shared/make_corpus.py" --size "$1" --out "$f" >/dev/null
    echo "$f"
}

# Temporary files to remove on exit: a script adds its own here rather than setting a trap.
cleanup_files=()
trap 'rm -f "${cleanup_files[@]}"' EXIT

# A figure of a shared machine means little without its load: each round says it on standard
# error, and the tables' headings give the range (kept in a file: rounds may run in subshells).
load_log=$(mktemp)
cleanup_files+=("$load_log")
note_load() {
    local load
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    echo "round $1: load average $load" >&2
    echo "${load%% *}" >>"$load_log"
}
# "load average LOW to HIGH" of the rounds noted since the last call, which starts a new range.
load_range() {
    sort -g "$load_log" | awk 'NR == 1 {lo = $1} {hi = $1} END {
        if (NR == 0) printf "load average ?"; else if (lo == hi) printf "load average %s", lo;
        else printf "load average %s to %s", lo, hi}'
    : >"$load_log"
}
