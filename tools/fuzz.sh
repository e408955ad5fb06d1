#!/usr/bin/env bash
# Runs one libFuzzer target for a while: tools/fuzz.sh READER SECONDS
#   READER: zip (docx, odt, flat odt), doc, rtf, html, text, pdf
# Builds with clang, AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz (or
# $CORVALEN_FUZZ_BUILD), seeds from the shared corpus and tests/data, keeps the growing corpus in
# the build folder and writes crashing inputs to build-fuzz/fuzz-artifacts/READER/.
set -euo pipefail

reader=${1:?usage: tools/fuzz.sh READER SECONDS}
seconds=${2:?usage: tools/fuzz.sh READER SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVALEN_FUZZ_BUILD:-$root/build-fuzz}

case "$reader" in
    zip) patterns=("*.docx" "*.docm" "*.dotx" "*.odt" "*.ott" "*.fodt") ;;
    doc) patterns=("*.doc" "*.dot") ;;
    rtf) patterns=("*.rtf") ;;
    html) patterns=("*.htm" "*.html") ;;
    text) patterns=("*.txt" "*.le") ;;
    pdf) patterns=("*.pdf") ;;
    *) echo "unknown reader: $reader (zip, doc, rtf, html, text, pdf)" >&2; exit 2 ;;
esac

if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCORVALEN_BUILD_FUZZERS=ON -DCORVALEN_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target "fuzz_$reader" -j2

corpus="$build/fuzz-corpus/$reader"
seeds="$build/fuzz-seeds/$reader"
artifacts="$build/fuzz-artifacts/$reader"
mkdir -p "$corpus" "$seeds" "$artifacts"
for dir in "$root/../shared/corpus" "$root/tests/data"; do
    [ -d "$dir" ] || continue
    for p in "${patterns[@]}"; do
        find "$dir" -type f -iname "$p" -size -1024k -exec cp -t "$seeds" {} + 2>/dev/null || true
    done
done
# Inputs that once crashed a reader (tests/data/fuzz) seed every target.
[ -d "$root/tests/data/fuzz" ] && find "$root/tests/data/fuzz" -type f -exec cp -t "$seeds" {} + 2>/dev/null || true

cd "$build"
exec "$build/bin/fuzz_$reader" -max_total_time="$seconds" -jobs=1 -workers=1 -rss_limit_mb=2048 \
    -max_len=1048576 -timeout=30 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$seeds"
