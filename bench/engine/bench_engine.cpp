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
    // --phases prints when the reading ended and when the ordering began, to see the serial tail.
    bool phases = false;
    QStringList files;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        const QString value = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (a == u"--keep-case") {
            options.ignoreCase = false;
        } else if (a == u"--phases") {
            phases = true;
        } else if (a == u"--unicode") {
            options.rules.words = WordRules::Words::Unicode;
        } else if (a == u"--all-punctuation") {
            options.rules.punctuation = WordRules::Punctuation::All;
        } else if (a == u"--stop-words") {
            options.rules.stopWordLists << value;
            ++i;
        } else if (a == u"--min-length") {
            options.rules.minLength = value.toInt();
            ++i;
        } else if (a == u"--stem") {
            options.rules.stemLanguage = value;
            ++i;
        } else if (a == u"--ngrams") {
            options.rules.phraseLength = value.toInt();
            ++i;
        } else {
            files << a;
        }
    }
    if (files.isEmpty()) {
        QTextStream(stderr) << "usage: bench_engine [--keep-case] [--phases] [--unicode] [--all-punctuation]\n"
                               "         [--stop-words LIST] [--min-length N] [--stem LANG] [--ngrams N] FILE...\n";
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    Utf8FileSource source;
    Progress progress([&](Phase phase, qint64 done, qint64 total) {
        if (phases && (phase != Phase::Reading || done == total))
            QTextStream(stderr) << "phase " << int(phase) << " at " << timer.elapsed() << " ms\n";
    });
    const ResultTable table = runAnalysis(files, options, source, &progress);
    QTextStream(stdout) << "total " << table.total() << " distinct " << table.rowCount()
                        << " seconds " << timer.elapsed() / 1000.0 << '\n';
    return 0;
}
