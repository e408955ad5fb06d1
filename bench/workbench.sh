#!/usr/bin/env bash
# The workbench window on the 100 MB corpus, offscreen: the concordance of a frequent word (its
# first and last lines, the event loop meanwhile), its lines sorted again by three levels, the plot
# of every hit, and the file view of the whole text. Then the Collocates tab with a table of
# COLLOCATES rows (default 100,000) ordered by each of its columns. RUNS runs of each, each printed.
#
#   bench/workbench.sh        (also run by bench/run.sh workbench; QUERY chooses the word, default "the")
#   TABLE_ONLY=1 bench/workbench.sh     the collocates table alone (no corpus needed)
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-3}
QUERY=${QUERY:-the}
COLLOCATES=${COLLOCATES:-100000}

build_targets bench_workbench
if [ -z "${TABLE_ONLY:-}" ]; then
    file=${CORPUS_FILE:-$(corpus_file 100)}

    echo "## The workbench on $(basename "$file") (RUNS=$RUNS, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
    echo
    for run in $(seq "$RUNS"); do
        echo "Run $run (load $(cut -d' ' -f1 /proc/loadavg)):"
        echo '```'
        QT_QPA_PLATFORM=offscreen /usr/bin/time -f "peak RSS %M KiB, %e s in all" "$build/bin/bench_workbench" "$file" "$QUERY" 2>&1 \
            | grep -v -e '^QStandardPaths' -e 'propagateSizeHints'
        echo '```'
    done
    echo
fi

# The table's orders: each round's load is noted, their range heads the figures.
table_runs=""
for run in $(seq "$RUNS"); do
    note_load "$run"
    table_runs+="Run $run:"$'\n'
    table_runs+=$(QT_QPA_PLATFORM=offscreen "$build/bin/bench_workbench" --collocates "$COLLOCATES" 2>&1 \
        | grep -v -e '^QStandardPaths' -e 'propagateSizeHints')$'\n'
done
echo "## The Collocates tab: $COLLOCATES rows ordered by each column (RUNS=$RUNS, $(nproc) cores, $(load_range))"
echo
echo '```'
printf '%s' "$table_runs"
echo '```'
echo
