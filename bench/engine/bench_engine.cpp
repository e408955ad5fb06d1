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
    if (args.isEmpty()) {
        QTextStream(stderr) << "usage: bench_engine [--keep-case] FILE...\n";
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    Utf8FileSource source;
    const ResultTable table = runAnalysis(args, options, source);
    QTextStream(stdout) << "total " << table.total() << " distinct " << table.rowCount()
                        << " seconds " << timer.elapsed() / 1000.0 << '\n';
    return 0;
}
