#include "engine/analysisrun.h"

#include "base/errorreport.h"
#include "base/filenames.h"
#include "engine/taskpool.h"
#include "engine/textdecoder.h"
#include "engine/wordrules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <climits>
#include <deque>
#include <future>
#include <memory>

#include <new>

namespace corvalen {

namespace {

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("corvalen::AnalysisRun", text, nullptr, n);
}

// What a failure while counting `what` (a file's name, or a few files) says.
QString failureText(const std::exception &e, const QString &what)
{
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return tr("Out of memory while counting %1.").arg(what);
    return QString::fromLocal8Bit(e.what());
}

QString shownName(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The files a combined count lost as a whole.
QString filesTogether(const QStringList &paths)
{
    if (paths.size() == 1)
        return shownName(paths.constFirst());
    return tr("the %n files together", int(std::min<qsizetype>(paths.size(), INT_MAX)));
}

// Runs one step; a failure is reported and the run goes on. Returns whether the step succeeded.
template<typename F>
bool guarded(ErrorReporter *reporter, int step, const QString &what, F &&f)
{
    try {
        f();
        return true;
    } catch (const std::exception &e) {
        if (reporter)
            reporter->reportError(failureText(e, what), QString::fromUtf16(kStartTag), step);
    }
    return false;
}

void reportOutOfMemory(ErrorReporter *reporter, int step, const QString &path)
{
    if (reporter)
        reporter->reportError(failureText(std::bad_alloc(), shownName(path)), QString::fromUtf16(kStartTag), step);
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
bool readFileInto(TextSource &source, const QString &path, WordTally &tally, ReadProgress &rp,
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
    return complete;
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

qsizetype RunOutcome::filesCounted() const
{
    return std::count(counted.begin(), counted.end(), true);
}

RunOutcome runAnalysisRows(const QStringList &paths, const CountOptions &options, TextSource &source,
                           const RowsSink &sink, Progress *progress, ErrorReporter *reporter)
{
    RunOutcome outcome;
    outcome.counted.assign(size_t(paths.size()), false);
    ReadProgress rp{progress};
    QList<qint64> sizes;
    sizes.reserve(paths.size());
    for (const QString &p : paths) {
        sizes.append(std::max<qint64>(1, fileStatus(p).size));
        rp.totalBytes += sizes.constLast();
    }
    const auto cancelled = [progress] { return progress && progress->isCancelled(); };
    // The rules are checked before the first file is read: a list that cannot be read stops the
    // run with nothing counted.
    QString rulesError;
    const std::unique_ptr<WordFinder> rules = options.finder
            ? options.finder->clone()
            : WordFinder::create(options.rules, options.ignoreCase, &rulesError);
    if (!rules) {
        if (reporter)
            reporter->reportError(rulesError, QString::fromUtf16(kStartTag), RunStep::ReadCombined);
        return outcome;
    }

    if (options.mode == CountMode::Combined) {
        auto tally = std::make_unique<WordTally>(*rules);
        tally->setFileRange(options.fileRange);
        // The tally numbers the files it is fed; those the run left out take no number.
        std::vector<qsizetype> fed;
        for (qsizetype i = 0; i < paths.size() && !cancelled(); ++i) {
            fed.push_back(i);
            guarded(reporter, RunStep::ReadCombined, shownName(paths.at(i)),
                    [&] { outcome.counted[size_t(i)] = readFileInto(source, paths.at(i), *tally, rp, sizes.at(i)); });
        }
        QStringList counted;
        for (qsizetype i : fed) {
            if (outcome.counted[size_t(i)])
                counted.append(paths.at(i));
        }
        bool whole = guarded(reporter, RunStep::TallyCombined, filesTogether(counted), [&] { tally->finish(); });
        // A large file that could not be counted on its own is left out, as a file that could not
        // be read; when the count as a whole is lost, no file counted.
        for (quint32 number : tally->failedFiles()) {
            const qsizetype i = number < fed.size() ? fed[number] : -1;
            if (i < 0 || !outcome.counted[size_t(i)])
                continue;
            if (whole)
                reportOutOfMemory(reporter, RunStep::TallyCombined, paths.at(i));
            outcome.counted[size_t(i)] = false;
        }
        CountedRows rows;
        if (progress)
            progress->report(Phase::Ordering, 0, 1);
        if (whole) {
            whole = guarded(reporter, RunStep::OrderCombined, filesTogether(counted),
                            [&] { rows = tally->takeOrderedRows(); });
        }
        if (!whole) {
            outcome.counted.assign(outcome.counted.size(), false);
            rows = CountedRows();
        }
        tally.reset(); // its words are in rows now: free it before the sink copies them
        guarded(reporter, RunStep::WriteCombined, QString(), [&] { sink(std::move(rows), QString()); });
        return outcome;
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
        std::future<Ordered> result;
        QString fileName;
        qsizetype index = 0;
    };
    // Not the global pool: its threads count the slices a finish waits for.
    static TaskPool finishers(QThread::idealThreadCount());
    const qsizetype window = std::max(2, QThread::idealThreadCount());
    std::deque<InFlight> inFlight;
    const auto collect = [&] {
        InFlight f = std::move(inFlight.front());
        inFlight.pop_front();
        Ordered o = f.result.get();
        f.tally.reset(); // its words are in o.rows now: free the tally before the next file's
        if (!o.failure.isEmpty()) {
            outcome.counted[size_t(f.index)] = false;
            o.rows = CountedRows(); // a file that failed gives no rows, as one that could not be read
            if (reporter)
                reporter->reportError(o.failure, QString::fromUtf16(kStartTag), o.step);
        }
        guarded(reporter, RunStep::WritePerFile, QString(), [&] { sink(std::move(o.rows), f.fileName); });
    };
    for (qsizetype i = 0; i < paths.size() && !cancelled(); ++i) {
        const QString &path = paths.at(i);
        bool complete = false;
        std::shared_ptr<WordTally> fileTally;
        guarded(reporter, RunStep::ReadPerFile, shownName(path), [&] {
            fileTally = std::make_shared<WordTally>(*rules);
            complete = readInto(source, path, *fileTally, rp, sizes.at(i));
        });
        InFlight f{fileTally, {}, options.withFileName ? fileNameFromPath(path) : QString(), i};
        if (!complete) {
            fileTally.reset(); // an incomplete file gives no rows: its block stays empty
            f.tally.reset();
        }
        outcome.counted[size_t(i)] = complete;
        auto finish = std::make_shared<std::packaged_task<Ordered()>>([fileTally, name = shownName(path)] {
            Ordered o;
            if (!fileTally)
                return o;
            o.step = RunStep::TallyPerFile;
            try {
                fileTally->finish();
                o.step = RunStep::OrderPerFile;
                o.rows = fileTally->takeOrderedRows();
            } catch (const std::exception &e) {
                o.failure = failureText(e, name);
            }
            return o;
        });
        f.result = finish->get_future();
        finishers.start([finish] { (*finish)(); });
        inFlight.push_back(std::move(f));
        while (qsizetype(inFlight.size()) >= window)
            collect();
    }
    while (!inFlight.empty())
        collect();
    return outcome;
}

bool Utf8FileSource::readText(const QString &path, const Sink &sink)
{
    QFile file;
    if (!openForReading(file, path))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    return TextDecoder().decodeAll(file, block, file.read(block.data(), block.size()), sink);
}

} // namespace corvalen
