// Counts UTF-8 text files in combined mode and prints the total, the number of distinct words
// and the time; bench/run.sh runs it beside the peers.
#include "engine/analysisrun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

using namespace corvalen;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    CountOptions options{CountMode::Combined, false, true};
    if (args.contains(u"--keep-case"_qs)) {
        options.ignoreCase = false;
        args.removeAll(u"--keep-case"_qs);
    }
    // --phases prints when the reading ended and when the ordering began, to see the serial tail.
    const bool phases = args.removeAll(u"--phases"_qs) > 0;
    if (args.isEmpty()) {
        QTextStream(stderr) << "usage: bench_engine [--keep-case] [--phases] FILE...\n";
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    Utf8FileSource source;
    Progress progress([&](Phase phase, qint64 done, qint64 total) {
        if (phases && (phase != Phase::Reading || done == total))
            QTextStream(stderr) << "phase " << int(phase) << " at " << timer.elapsed() << " ms\n";
    });
    const ResultTable table = runAnalysis(args, options, source, &progress);
    QTextStream(stdout) << "total " << table.total() << " distinct " << table.rowCount()
                        << " seconds " << timer.elapsed() / 1000.0 << '\n';
    return 0;
}
