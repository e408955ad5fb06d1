#include "engine/analysisrun.h"

#include "base/errorreport.h"
#include "engine/textdecoder.h"
#include "engine/wordrules.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <deque>
#include <memory>

#include <new>

namespace corvalen {

namespace {

QString failureText(const std::exception &e)
{
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return QStringLiteral("Out of memory.");
    return QString::fromLocal8Bit(e.what());
}

// Runs one step; a failure is reported and the run goes on.
template<typename F>
void guarded(ErrorReporter *reporter, int step, F &&f)
{
    try {
        f();
    } catch (const std::exception &e) {
        if (reporter)
            reporter->reportError(failureText(e), QString::fromUtf16(kStartTag), step);
    }
}

struct ReadProgress
{
    Progress *progress = nullptr;
    qint64 totalBytes = 0;
    qint64 doneBytes = 0;

    void report(qint64 extra)
    {
        if (progress)
            progress->report(Phase::Reading, std::min(doneBytes + extra, totalBytes), totalBytes);
    }
};

// Feeds one file's text to tally; returns whether all of it arrived (not cut short by a failure
// of the source or by a cancel).
bool readInto(TextSource &source, const QString &path, WordTally &tally, ReadProgress &rp,
              qint64 fileSize)
{
    qint64 fed = 0;
    bool cancelled = false;
    const bool complete = source.readText(path, [&](QStringView chunk) {
        if (cancelled || (rp.progress && rp.progress->isCancelled())) {
            cancelled = true;
            return;
        }
        tally.feed(chunk);
        fed += chunk.size();
        rp.report(std::min(fed, fileSize));
    });
    rp.doneBytes += fileSize;
    rp.report(0);
    return complete && !cancelled;
}

// The same into a combined tally, which forgets the file's text unless it is complete.
void readFileInto(TextSource &source, const QString &path, WordTally &tally, ReadProgress &rp,
                  qint64 fileSize)
{
    tally.beginFile();
    bool complete = false;
    try {
        complete = readInto(source, path, tally, rp, fileSize);
    } catch (...) {
        tally.endFile(false);
        throw;
    }
    tally.endFile(complete);
}

} // namespace

ResultTable runAnalysis(const QStringList &paths, const CountOptions &options, TextSource &source,
                        Progress *progress, ErrorReporter *reporter)
{
    ResultTable table(options.fileNameColumn());
    runAnalysisRows(
            paths, options, source,
            [&table](CountedRows &&rows, const QString &fileName) { table.appendCountedRows(rows, fileName); },
            progress, reporter);
    return table;
}

void runAnalysisRows(const QStringList &paths, const CountOptions &options, TextSource &source,
                     const RowsSink &sink, Progress *progress, ErrorReporter *reporter)
{
    ReadProgress rp{progress};
    QList<qint64> sizes;
    sizes.reserve(paths.size());
    for (const QString &p : paths) {
        sizes.append(std::max<qint64>(1, QFileInfo(p).size()));
        rp.totalBytes += sizes.constLast();
    }
    const auto cancelled = [progress] { return progress && progress->isCancelled(); };
    // The rules are checked before the first file is read: a list that cannot be read stops the
    // run with nothing counted.
    QString rulesError;
    const std::unique_ptr<WordFinder> rules =
            WordFinder::create(options.rules, options.ignoreCase, &rulesError);
    if (!rules) {
        if (reporter)
            reporter->reportError(rulesError, QString::fromUtf16(kStartTag), RunStep::ReadCombined);
        return;
    }

    if (options.mode == CountMode::Combined) {
        auto tally = std::make_unique<WordTally>(*rules);
        tally->setFileRange(options.fileRange);
        for (qsizetype i = 0; i < paths.size() && !cancelled(); ++i)
            guarded(reporter, RunStep::ReadCombined,
                    [&] { readFileInto(source, paths.at(i), *tally, rp, sizes.at(i)); });
        guarded(reporter, RunStep::TallyCombined, [&] { tally->finish(); });
        CountedRows rows;
        if (progress)
            progress->report(Phase::Ordering, 0, 1);
        guarded(reporter, RunStep::OrderCombined, [&] { rows = tally->takeOrderedRows(); });
        tally.reset(); // its words are in rows now: free it before the sink copies them
        guarded(reporter, RunStep::WriteCombined, [&] { sink(std::move(rows), QString()); });
        return;
    }

    // While one file's words are finished and ordered on a worker, the next file is read here;
    // rows are still handed over, and failures reported, in list order.
    struct Ordered
    {
        CountedRows rows;
        QString failure;
        int step = 0;
    };
    struct InFlight
    {
        std::shared_ptr<WordTally> tally;
        QFuture<Ordered> result;
        QString fileName;
    };
    static QThreadPool finishers; // not the global pool: its threads count the slices we wait on
    const qsizetype window = std::max(2, QThread::idealThreadCount());
    std::deque<InFlight> inFlight;
    const auto collect = [&] {
        InFlight f = std::move(inFlight.front());
        inFlight.pop_front();
        Ordered o = f.result.takeResult();
        f.tally.reset(); // its words are in o.rows now: free the tally before the next file's
        if (!o.failure.isEmpty() && reporter)
            reporter->reportError(o.failure, QString::fromUtf16(kStartTag), o.step);
        guarded(reporter, RunStep::WritePerFile, [&] { sink(std::move(o.rows), f.fileName); });
    };
    for (qsizetype i = 0; i < paths.size() && !cancelled(); ++i) {
        const QString &path = paths.at(i);
        auto fileTally = std::make_shared<WordTally>(*rules);
        bool complete = false;
        guarded(reporter, RunStep::ReadPerFile,
                [&] { complete = readInto(source, path, *fileTally, rp, sizes.at(i)); });
        InFlight f{fileTally, {}, options.withFileName ? fileNameFromPath(path) : QString()};
        if (!complete) {
            fileTally.reset(); // an incomplete file gives no rows: its block stays empty
            f.tally.reset();
        }
        f.result = QtConcurrent::run(&finishers, [fileTally] {
            Ordered o;
            if (!fileTally)
                return o;
            o.step = RunStep::TallyPerFile;
            try {
                fileTally->finish();
                o.step = RunStep::OrderPerFile;
                o.rows = fileTally->takeOrderedRows();
            } catch (const std::exception &e) {
                o.failure = failureText(e);
            }
            return o;
        });
        inFlight.push_back(std::move(f));
        while (qsizetype(inFlight.size()) >= window)
            collect();
    }
    while (!inFlight.empty())
        collect();
}

bool Utf8FileSource::readText(const QString &path, const Sink &sink)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    return TextDecoder().decodeAll(file, block, file.read(block.data(), block.size()), sink);
}

} // namespace corvalen
