#!/usr/bin/env bash
# The workbench window on the 100 MB corpus, offscreen: the concordance of a frequent word (its
# first and last lines, the event loop meanwhile), its lines sorted again by three levels, the plot
# of every hit, and the file view of the whole text. RUNS runs, each printed.
#
#   bench/workbench.sh        (also run by bench/run.sh workbench; QUERY chooses the word, default "the")
set -euo pipefail
source "$(dirname "$0")/common.sh"
RUNS=${RUNS:-3}
QUERY=${QUERY:-the}

build_targets bench_workbench
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
