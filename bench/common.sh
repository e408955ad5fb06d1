# What the benchmark scripts share; sourced, not run. Sets here, root, shared, build, corpus and
# bin (BENCH_SHARED, BENCH_BUILD and BENCH_CORPUS choose other places) and gives:
#   build_targets TARGET...   builds a Release tree (no tests) when a target's program is missing
#   corpus_file SIZE          the path of the one-file corpus of SIZE MB, made once
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
