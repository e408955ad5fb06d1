// Reads documents through the document engine, counts their words in combined mode (case kept,
// as the peers count) and prints the total, the distinct words, the characters of text and the
// time; bench/docx.sh runs it beside the peers.
#include "base/errorreport.h"
#include "documents/documentengine.h"
#include "engine/wordtally.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

using namespace corvalen;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool textOnly = args.removeAll(u"--text-only"_qs) > 0;
    if (args.isEmpty()) {
        QTextStream(stderr) << "usage: bench_docs [--text-only] FILE...\n";
        return 2;
    }
    int failures = 0;
    FunctionErrorReporter reporter([&failures](const QString &message) {
        ++failures;
        QTextStream(stderr) << message << '\n';
    });
    DocumentEngine engine(&reporter);
    WordTally tally(false);
    qint64 chars = 0;
    QElapsedTimer timer;
    timer.start();
    for (const QString &path : std::as_const(args)) {
        engine.readText(path, [&](QStringView chunk) {
            chars += chunk.size();
            if (!textOnly)
                tally.feed(chunk);
        });
    }
    tally.finish();
    const double seconds = timer.nsecsElapsed() / 1e9;
    QTextStream(stdout) << "total " << tally.total() << " distinct " << tally.distinctWords() << " chars "
                        << chars << " seconds " << seconds << '\n';
    return failures ? 1 : 0;
}
