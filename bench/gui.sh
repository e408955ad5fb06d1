#!/usr/bin/env bash
# Responsiveness of the windows: event-loop gaps during a 500 MB run, showing a million rows, and
# the workbench's word list on a per-file result of a million rows.
# Called by bench/run.sh (BENCH_BUILD, BENCH_CORPUS, BENCH_SHARED set there).
set -euo pipefail
file=$BENCH_CORPUS/c500.txt
[ -s "$file" ] || python3 "$BENCH_SHARED/make_corpus.py" --size 500 --out "$file" >/dev/null
echo "## Windows: responsiveness during a run, and the workbench's word list"
echo
echo '```'
QT_QPA_PLATFORM=offscreen "$BENCH_BUILD/bin/bench_gui" "$file"
echo '```'
echo
