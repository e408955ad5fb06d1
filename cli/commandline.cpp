#include "cli/commandline.h"

#include "base/errorreport.h"
#include "base/filenames.h"
#include "base/safefile.h"
#include "cli/prefetchingsource.h"
#include "cli/rowspill.h"
#include "cli/wordruleoptions.h"
#include "documents/documentengine.h"
#include "documents/occurrencefinder.h"
#include "engine/analysisrun.h"
#include "filelist/folderscan.h"
#include "results/resultlayouts.h"
#include "results/roworder.h"
#include "results/spreadsheetlayout.h"
#include "results/wordliststatistics.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringEncoder>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <io.h>
#define CORVALEN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define CORVALEN_ISATTY(fd) isatty(fd)
#endif

namespace corvalen {

namespace {

enum ExitStatus { Success = 0, Failed = 1, UsageError = 2 };

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::CommandLine", text);
}

void writeErr(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void writeOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString generalHelp()
{
    return tr("Usage: corvalen [PATH...]\n"
              "       corvalen count [OPTIONS] PATH...\n"
              "       corvalen context [OPTIONS] WORD PATH...\n"
              "\n"
              "Counts the words of documents and shows how often each distinct word occurs.\n"
              "\n"
              "  corvalen [PATH...]              open the windows, with the paths in the file list\n"
              "                                  (a file named count or context: ./count)\n"
              "  corvalen count [OPTIONS] PATH   count and write the results (corvalen count --help)\n"
              "  corvalen context WORD PATH      every occurrence of WORD in its context\n"
              "                                  (corvalen context --help)\n"
              "  -h, --help                      show this help\n"
              "  -v, --version                   show the version\n");
}

QString versionText()
{
    return QStringLiteral("Corvalen " CORVALEN_VERSION "\n");
}

// Error reports go to standard error as the message box would show them, one line per line.
class StderrReporter : public ErrorReporter
{
public:
    std::function<void()> beforeWriting; // clears a progress line
    bool anyReported() const { return m_any; }

protected:
    void show(const QString &message, const QString &, const QString &, int) override
    {
        std::lock_guard lock(m_mutex);
        m_any = true;
        if (beforeWriting)
            beforeWriting();
        QString text = message;
        text.replace(u"\r\n"_qs, u"\n"_qs).replace(u'\r', u'\n');
        writeErr(text + u'\n');
    }

private:
    std::mutex m_mutex;
    bool m_any = false;
};

// A one-line progress display for a terminal: files done of total, speed and a bar.
class TerminalProgress
{
public:
    TerminalProgress(qsizetype files, const PrefetchingSource &source)
        : m_files(files), m_source(source)
    {
        m_timer.start();
    }

    void update(Phase phase, qint64 done, qint64 total)
    {
        if (m_timer.elapsed() < 300) // short runs show nothing
            return;
        constexpr int kBar = 30;
        const double fraction = total > 0 ? double(done) / double(total) : 1.0;
        const int filled = int(fraction * kBar);
        const double seconds = std::max(0.001, m_timer.elapsed() / 1000.0);
        QString line = u'\r' + QString(filled, u'#') + QString(kBar - filled, u'-') + u' ';
        if (phase == Phase::Reading) {
            line += tr("%1 of %2 files, %3 MB/s")
                            .arg(m_source.filesDone())
                            .arg(m_files)
                            .arg(double(done) / 1e6 / seconds, 0, 'f', 1);
        } else {
            line += phase == Phase::Ordering ? tr("ordering") : tr("writing");
        }
        writeErr(line + u"\x1b[K"_qs);
        m_shown = true;
    }

    void clear()
    {
        if (m_shown)
            writeErr(u"\r\x1b[K"_qs);
        m_shown = false;
    }

private:
    qsizetype m_files;
    const PrefetchingSource &m_source;
    QElapsedTimer m_timer;
    bool m_shown = false;
};

QStringList pathsFromStandardInput()
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return {};
    QStringList paths;
    const QByteArray all = in.readAll();
    for (QByteArray line : all.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            paths.append(decodeFileName(line));
    }
    return paths;
}

// The figures of --stats: each file's (per-file mode) and those of all files together, gathered
// block by block as the run hands them over, before any row is dropped.
class RunStatistics
{
public:
    explicit RunStatistics(bool perFile) : m_perFile(perFile) { }

    void addBlock(const CountedRows &rows, const QString &fileName)
    {
        StatisticsCollector file;
        QString scratch;
        for (size_t i = 0; i < rows.size(); ++i) {
            const QStringView word = rows.word(i, scratch);
            file.add(word, rows.count(i));
            if (m_perFile)
                m_summed[word.toString()] += rows.count(i); // a word of several files is one type of all
        }
        if (m_perFile)
            m_files.append({fileName, file.statistics()});
        else
            m_all = file.statistics();
    }

    // A file that could not be read or counted has no figures: it is marked, not shown as empty.
    QString text(const RunOutcome &outcome) const
    {
        QString out;
        for (qsizetype i = 0; i < m_files.size(); ++i) {
            const auto &[name, stats] = m_files.at(i);
            const bool read = size_t(i) < outcome.counted.size() && outcome.counted[size_t(i)];
            out += name + u'\n' + (read ? lines(stats) : tr("Not read: the file could not be counted.\n"));
        }
        if (!m_perFile)
            return out + lines(m_all);
        StatisticsCollector all;
        for (auto it = m_summed.cbegin(); it != m_summed.cend(); ++it)
            all.add(it.key(), it.value());
        return out + lines(all.statistics());
    }

private:
    static QString lines(const WordListStatistics &s)
    {
        return u"Tokens: %1\nTypes: %2\nType/token ratio: %3\nHapax legomena: %4\n"_qs
                .arg(s.tokens)
                .arg(s.types)
                .arg(s.typeTokenRatio(), 0, 'f', 4)
                .arg(s.hapaxLegomena);
    }

    bool m_perFile;
    QList<QPair<QString, WordListStatistics>> m_files;
    QHash<QString, qint64> m_summed;
    WordListStatistics m_all;
};

// A whole number of at least 0 for an option, or nullopt.
std::optional<qint64> countValue(const QString &text)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok && n >= 0 ? std::optional<qint64>(n) : std::nullopt;
}

// The files of the paths given on the command line ("-" reads more paths from standard input,
// once), folders scanned as a drop scans them; but nothing they hold is left out unsaid: each
// folder that could not be read, or holds no files, is named on standard error.
QStringList filesOfPaths(const QStringList &given, DropScanNotes *notes)
{
    QStringList listed;
    bool stdinUsed = false;
    for (const QString &path : given) {
        if (path == u"-") {
            if (!stdinUsed)
                listed += pathsFromStandardInput();
            stdinUsed = true;
        } else {
            listed.append(path);
        }
    }
    const QStringList files = pathsAsDropped(listed, {}, notes);
    for (const UnreadableFolder &folder : std::as_const(notes->unreadable))
        writeErr(tr("The folder %1 could not be read: %2.").arg(folder.path, folder.reason) + u'\n');
    for (const QString &folder : std::as_const(notes->withoutFiles))
        writeErr(tr("The folder %1 holds no files to count.").arg(folder) + u'\n');
    return files;
}

// A command's --help: its usage line, then Qt's text of its options.
int writeCommandHelp(const QCommandLineParser &parser, const QString &usage)
{
    QString text = parser.helpText();
    text = text.mid(text.indexOf(u'\n') + 1); // Qt's usage line names the executable's path
    writeOut(usage + u"\n\n"_qs + text);
    return Success;
}

// command is the command word, "count" or "context".
int usageError(const QString &command, const QString &message)
{
    writeErr(u"corvalen "_qs + command + u": "_qs + message + u'\n'
             + tr("Try 'corvalen %1 --help'.").arg(command) + u'\n');
    return UsageError;
}

int runCount(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
            tr("Counts the words of the files and folders given (\"-\" reads paths from standard "
               "input, one per line) and writes one row per distinct word, least frequent first. "
               "Folders are scanned like a folder dropped on the file list; a folder that cannot be "
               "read is named on standard error, and the exit status is then 1. The total goes to "
               "standard error. The rows of a per-file count wait in a temporary file until all are "
               "counted: beside FILE with -o, otherwise in the temporary folder ($TMPDIR). A "
               "combined count's rows stay in memory, where they were counted."));
    const QCommandLineOption combined(u"combined"_qs, tr("One count for all files."));
    const QCommandLineOption perFile(u"per-file"_qs, tr("A separate count for each file (default)."));
    const QCommandLineOption ignoreCase(u"ignore-case"_qs, tr("Ignore letter case (default)."));
    const QCommandLineOption keepCase(u"keep-case"_qs, tr("Count words that differ in case apart."));
    const QCommandLineOption fileName(u"filename"_qs, tr("Per-file counts: start each row with the file name (default)."));
    const QCommandLineOption noFileName(u"no-filename"_qs, tr("Per-file counts: rows without the file name."));
    const QCommandLineOption range(u"range"_qs,
                                   tr("With --combined: add a Files column, the number of files "
                                      "each word occurs in."));
    const QCommandLineOption format(u"format"_qs,
                                    tr("tsv: tab-separated rows as copied to the clipboard (default); "
                                       "text: the column-aligned \"Save Results\" file; "
                                       "csv: comma-separated values (RFC 4180) with a header row; "
                                       "json: an array of objects; "
                                       "xlsx: a spreadsheet workbook (needs -o)."),
                                    u"tsv|text|csv|json|xlsx"_qs, u"tsv"_qs);
    const QCommandLineOption sort(u"sort"_qs,
                                  tr("count: by count, least frequent first (default); count-desc: "
                                     "most frequent first; word, word-desc: alphabetically by the "
                                     "Unicode root collation. Per file, each file's rows apart."),
                                  u"count|count-desc|word|word-desc"_qs, u"count"_qs);
    const QCommandLineOption minCount(u"min-count"_qs, tr("Leave out rows counted fewer than N times."),
                                      u"N"_qs);
    const QCommandLineOption top(u"top"_qs,
                                 tr("Keep the first N rows (of each file, per file), after --sort "
                                    "and --min-count. The total stays the number of words counted."),
                                 u"N"_qs);
    const QCommandLineOption stats(u"stats"_qs,
                                   tr("After the total, write tokens, types, type/token ratio and "
                                      "hapax legomena to standard error (per file, each file's first)."));
    const QCommandLineOption output(QStringList{u"o"_qs, u"output"_qs},
                                    tr("Write the results to FILE (replaced only when complete) "
                                       "instead of standard output."),
                                    u"FILE"_qs);
    const QCommandLineOption help(QStringList{u"h"_qs, u"help"_qs}, tr("Show this help."));
    const QCommandLineOption version(QStringList{u"v"_qs, u"version"_qs}, tr("Show the version."));
    parser.addOptions({combined, perFile, ignoreCase, keepCase, fileName, noFileName, range});
    addWordRuleOptions(parser);
    parser.addOptions({format, sort, minCount, top, stats, output, help, version});
    parser.addPositionalArgument(u"PATH"_qs, tr("Files and folders to count; - reads paths from standard input."),
                                 u"PATH..."_qs);

    if (!parser.parse(QStringList{u"corvalen count"_qs} + arguments))
        return usageError(u"count"_qs, parser.errorText());
    if (parser.isSet(help))
        return writeCommandHelp(parser, tr("Usage: corvalen count [OPTIONS] PATH..."));
    if (parser.isSet(version)) {
        writeOut(versionText());
        return Success;
    }
    if (parser.isSet(combined) && parser.isSet(perFile))
        return usageError(u"count"_qs, tr("--combined and --per-file cannot be used together."));
    if (parser.isSet(range) && !parser.isSet(combined))
        return usageError(u"count"_qs, tr("--range needs --combined: a per-file count has no range."));
    if (parser.isSet(ignoreCase) && parser.isSet(keepCase))
        return usageError(u"count"_qs, tr("--ignore-case and --keep-case cannot be used together."));
    if (parser.isSet(fileName) && parser.isSet(noFileName))
        return usageError(u"count"_qs, tr("--filename and --no-filename cannot be used together."));
    for (const QCommandLineOption *once : {&format, &output, &sort, &minCount, &top}) {
        if (parser.values(*once).size() > 1)
            return usageError(u"count"_qs, tr("--format, --sort, --min-count, --top and -o may be given once."));
    }
    const QString layout = parser.value(format);
    if (!QStringList{u"tsv"_qs, u"text"_qs, u"csv"_qs, u"json"_qs, u"xlsx"_qs}.contains(layout))
        return usageError(u"count"_qs, tr("unknown format \"%1\" (tsv, text, csv, json or xlsx).").arg(layout));
    const QString sortName = parser.value(sort);
    const QList<QPair<QString, RowOrder>> orders = {{u"count"_qs, RowOrder::Count},
                                                     {u"count-desc"_qs, RowOrder::CountDescending},
                                                     {u"word"_qs, RowOrder::Word},
                                                     {u"word-desc"_qs, RowOrder::WordDescending}};
    const auto chosen = std::find_if(orders.begin(), orders.end(), [&](const auto &o) { return o.first == sortName; });
    if (chosen == orders.end())
        return usageError(u"count"_qs, tr("unknown order \"%1\" (count, count-desc, word or word-desc).").arg(sortName));
    const RowOrder rowOrder = chosen->second;
    const std::optional<qint64> leastCount = parser.isSet(minCount) ? countValue(parser.value(minCount)) : qint64(0);
    if (!leastCount)
        return usageError(u"count"_qs, tr("--min-count needs a whole number of 0 or more."));
    const std::optional<qint64> topRows = parser.isSet(top) ? countValue(parser.value(top)) : std::optional<qint64>(-1);
    if (parser.isSet(top) && !topRows)
        return usageError(u"count"_qs, tr("--top needs a whole number of 0 or more."));
    const QString outputPath = parser.value(output);
    if (parser.isSet(output) && outputPath.isEmpty())
        return usageError(u"count"_qs, tr("-o needs a file name."));
    if (layout == u"xlsx" && outputPath.isEmpty())
        return usageError(u"count"_qs, tr("the xlsx format needs -o FILE."));
    QString rulesError;
    QStringList notes;
    const std::optional<WordRules> rules = wordRulesFromParser(parser, &rulesError, &notes);
    if (!rules)
        return usageError(u"count"_qs, rulesError);
    for (const QString &note : std::as_const(notes))
        writeErr(u"corvalen count: "_qs + note + u'\n');
    const QStringList given = parser.positionalArguments();
    if (given.isEmpty())
        return usageError(u"count"_qs, tr("no PATH given."));

    CountOptions options;
    options.mode = parser.isSet(combined) ? CountMode::Combined : CountMode::PerFile;
    options.ignoreCase = !parser.isSet(keepCase);
    options.withFileName = !parser.isSet(noFileName);
    options.rules = *rules;
    options.fileRange = parser.isSet(range);
    // Stop-word lists are read once, before anything is counted: one that cannot be read is named.
    options.finder = WordFinder::create(options.rules, options.ignoreCase, &rulesError);
    if (!options.finder) {
        writeErr(u"corvalen count: "_qs + rulesError + u'\n');
        return UsageError;
    }

    // A target that cannot be written is named before anything is counted.
    QString error;
    if (!outputPath.isEmpty() && !canWriteFileSafely(outputPath, &error)) {
        writeErr(error + u'\n');
        return Failed;
    }

    DropScanNotes scanNotes;
    const QStringList paths = filesOfPaths(given, &scanNotes);

    StderrReporter reporter;
    PrefetchingSource source(
            paths, [](ErrorReporter *r) { return std::make_unique<DocumentEngine>(r); }, &reporter);
    std::unique_ptr<TerminalProgress> terminal;
    std::unique_ptr<Progress> progress;
    if (CORVALEN_ISATTY(fileno(stderr))) {
        terminal = std::make_unique<TerminalProgress>(paths.size(), source);
        progress = std::make_unique<Progress>(
                [t = terminal.get()](Phase phase, qint64 done, qint64 total) { t->update(phase, done, total); },
                200);
        reporter.beforeWriting = [t = terminal.get()] { t->clear(); };
    }
    // Per file, the rows wait in a temporary file until the widths of their columns are known:
    // beside the output, where its own space will be needed anyway, or in the temporary folder.
    RowSpill spill(options.fileNameColumn(), !options.rules.stemLanguage.isEmpty(), options.fileRange);
    spill.setFolder(outputPath.isEmpty() ? QDir::tempPath() : scratchFolderFor(outputPath));
    std::unique_ptr<RunStatistics> statistics;
    if (parser.isSet(stats))
        statistics = std::make_unique<RunStatistics>(options.mode == CountMode::PerFile);
    qint64 counted = 0; // the total: --min-count and --top drop rows, not words counted
    qsizetype block = 0;
    const RunOutcome outcome = runAnalysisRows(
            paths, options, source,
            [&](CountedRows &&rows, const QString &name) {
                counted += rows.total();
                // Per file, one block per listed file in list order: its path heads its figures.
                if (statistics)
                    statistics->addBlock(rows, QDir::toNativeSeparators(paths.value(block)));
                ++block;
                if (*leastCount > 1)
                    rows.keepCountsFrom(*leastCount);
                orderBlock(rows, rowOrder);
                if (*topRows >= 0)
                    rows.truncate(size_t(*topRows));
                // A combined count is one block, in memory already.
                if (options.mode == CountMode::Combined && spill.rowCount() == 0)
                    spill.hold(std::move(rows), name);
                else
                    spill.append(rows, name);
            },
            progress.get(), &reporter);
    if (terminal)
        terminal->clear();

    QStringList headers = resultHeaders(options);
    if (options.fileRange)
        headers << tr("Files");
    const auto writeText = [&](QIODevice &device, QString *reason) {
        if (layout == u"csv")
            return writeResultsCsv(spill, device, reason);
        if (layout == u"json")
            return writeResultsJson(spill, device, reason);
        return layout == u"text"
                ? writeResultsText(spill, headers, spill.widths().withHeaders(headers), device, reason)
                : writeClipboardText(spill, spill.widths().widths(), device, reason);
    };
    bool written = spill.finishWriting(&error);
    if (!written) {
        error = outputPath.isEmpty() ? tr("Could not write the results to standard output: %1.").arg(error)
                                     : writeErrorText(outputPath, error);
    } else if (!outputPath.isEmpty() && outcome.filesCounted() == 0) {
        // Nothing was counted: an existing file keeps what it holds.
    } else if (!outputPath.isEmpty()) {
        written = layout == u"xlsx" ? saveResultsSpreadsheet(spill, headers, outputPath, &error)
                                    : writeFileSafely(outputPath, writeText, &error);
    } else {
        written = writeToStandardOutput(writeText, &error);
        if (!written)
            error = tr("Could not write the results to standard output: %1.").arg(error);
    }
    if (!written)
        writeErr(error + u'\n');
    writeErr(u" Word Count: "_qs + QString::number(counted) + u'\n');
    if (statistics)
        writeErr(statistics->text(outcome));
    return written && !reporter.anyReported() && scanNotes.unreadable.isEmpty() ? Success : Failed;
}

// Writes occurrences as lines, file<TAB>left<TAB>occurrence<TAB>right, on a thread of its own: they
// are handed over in batches, at most a few waiting, and written in the order they came.
class LineWriter
{
public:
    LineWriter(QIODevice &device, const QStringList &names)
        : m_device(device), m_names(names), m_thread([this] { write(); })
    {
        m_batch.reserve(kBatch);
    }
    ~LineWriter() { finish(); }

    // False once the device failed: nothing more is written.
    bool add(Occurrence &&o)
    {
        m_batch.push_back(std::move(o));
        if (m_batch.size() < kBatch)
            return true;
        return pass();
    }

    // Writes what is left and waits for the thread; false when the device failed.
    bool finish()
    {
        if (m_thread.joinable()) {
            pass();
            {
                std::lock_guard lock(m_mutex);
                m_done = true;
            }
            m_changed.notify_all();
            m_thread.join();
        }
        return m_ok;
    }

private:
    static constexpr size_t kBatch = 4096;
    static constexpr size_t kWaiting = 8;

    bool pass()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_batches.size() < kWaiting || !m_ok; });
        if (!m_ok)
            return false;
        m_batches.push_back(std::exchange(m_batch, {}));
        m_changed.notify_all();
        lock.unlock();
        m_batch.reserve(kBatch);
        return true;
    }

    void write()
    {
        QByteArray block;
        block.reserve(1 << 17);
        for (;;) {
            std::vector<Occurrence> batch;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return !m_batches.empty() || m_done; });
                if (m_batches.empty())
                    break;
                batch = std::move(m_batches.front());
                m_batches.pop_front();
                m_changed.notify_all();
            }
            bool ok = true;
            for (const Occurrence &o : batch) {
                // Encoded straight into the block: a string and a byte array for each of a
                // million lines cost more than the encoding.
                const QStringView parts[] = {m_names.at(o.file), o.left, o.text, o.right};
                qsizetype room = 4;
                for (const QStringView part : parts)
                    room += m_encoder.requiredSpace(part.size());
                const qsizetype used = block.size();
                block.resize(used + room);
                char *p = block.data() + used;
                for (int k = 0; k < 4; ++k) {
                    p = m_encoder.appendToBuffer(p, parts[k]);
                    *p++ = k < 3 ? '\t' : '\n';
                }
                block.resize(p - block.constData());
                if (block.size() >= (1 << 16)) {
                    ok = writeAll(m_device, block);
                    block.resize(0); // keeps its room
                    if (!ok)
                        break;
                }
            }
            if (!ok) {
                std::lock_guard lock(m_mutex);
                m_ok = false;
                m_changed.notify_all();
                return;
            }
        }
        if (!writeAll(m_device, block)) {
            std::lock_guard lock(m_mutex);
            m_ok = false;
        }
    }

    QIODevice &m_device;
    const QStringList &m_names;
    // As QString::toUtf8(): a surrogate without its pair is '?', wherever it stands.
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    std::vector<Occurrence> m_batch; // being filled, on the search's thread
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<Occurrence>> m_batches;
    bool m_done = false;
    bool m_ok = true;
    std::thread m_thread; // last: starts once the rest is there
};

// "corvalen context": every occurrence of one counted word, in its context, as lines.
int runContext(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
            tr("Writes every occurrence of WORD in the files and folders given (\"-\" reads paths "
               "from standard input, one per line) as one line: the file, the text to the left, "
               "the occurrence as it stands in the text and the text to the right, separated by "
               "tabs; control characters show as spaces. Files come in the order given, then "
               "occurrences in text order. WORD is a word as \"corvalen count\" shows it with the "
               "same options (typed in any letter case when case is ignored); there are as many "
               "lines as its count. The number of occurrences goes to standard error."));
    const QCommandLineOption width(u"width"_qs,
                                   tr("Characters of context on each side, %1 to %2 (default %3).")
                                           .arg(OccurrenceQuery::kMinWidth)
                                           .arg(OccurrenceQuery::kMaxWidth)
                                           .arg(OccurrenceQuery::kDefaultWidth),
                                   u"N"_qs);
    const QCommandLineOption combined(u"combined"_qs, tr("One count for all files (the same lines)."));
    const QCommandLineOption perFile(u"per-file"_qs, tr("A separate count for each file (default)."));
    const QCommandLineOption ignoreCase(u"ignore-case"_qs, tr("Ignore letter case (default)."));
    const QCommandLineOption keepCase(u"keep-case"_qs, tr("Words that differ in case are different words."));
    const QCommandLineOption help(QStringList{u"h"_qs, u"help"_qs}, tr("Show this help."));
    parser.addOptions({width, combined, perFile, ignoreCase, keepCase});
    addWordRuleOptions(parser);
    parser.addOption(help);
    parser.addPositionalArgument(u"WORD"_qs, tr("The word (or phrase, with --ngrams) to show."));
    parser.addPositionalArgument(u"PATH"_qs, tr("Files and folders to search; - reads paths from standard input."),
                                 u"PATH..."_qs);

    if (!parser.parse(QStringList{u"corvalen context"_qs} + arguments))
        return usageError(u"context"_qs, parser.errorText());
    if (parser.isSet(help))
        return writeCommandHelp(parser, tr("Usage: corvalen context [OPTIONS] WORD PATH..."));
    if (parser.isSet(combined) && parser.isSet(perFile))
        return usageError(u"context"_qs, tr("--combined and --per-file cannot be used together."));
    if (parser.isSet(ignoreCase) && parser.isSet(keepCase))
        return usageError(u"context"_qs, tr("--ignore-case and --keep-case cannot be used together."));
    if (parser.values(width).size() > 1)
        return usageError(u"context"_qs, tr("--width may be given once."));
    OccurrenceQuery query;
    if (parser.isSet(width)) {
        const std::optional<qint64> n = countValue(parser.value(width));
        if (!n || *n < OccurrenceQuery::kMinWidth || *n > OccurrenceQuery::kMaxWidth)
            return usageError(u"context"_qs, tr("--width needs a whole number from %1 to %2.")
                                             .arg(OccurrenceQuery::kMinWidth)
                                             .arg(OccurrenceQuery::kMaxWidth));
        query.width = int(*n);
    }
    QString rulesError;
    QStringList notes;
    const std::optional<WordRules> rules = wordRulesFromParser(parser, &rulesError, &notes);
    if (!rules)
        return usageError(u"context"_qs, rulesError);
    for (const QString &note : std::as_const(notes))
        writeErr(u"corvalen context: "_qs + note + u'\n');
    QStringList given = parser.positionalArguments();
    if (given.isEmpty())
        return usageError(u"context"_qs, tr("no WORD given."));
    const QString word = given.takeFirst();
    if (given.isEmpty())
        return usageError(u"context"_qs, tr("no PATH given."));
    query.rules = *rules;
    query.ignoreCase = !parser.isSet(keepCase);
    // Stop-word lists are read before anything is searched: one that cannot be read is named.
    query.finder = WordFinder::create(query.rules, query.ignoreCase, &rulesError);
    const std::shared_ptr<const WordFinder> &finder = query.finder;
    if (!finder) {
        writeErr(u"corvalen context: "_qs + rulesError + u'\n');
        return UsageError;
    }
    query.word = OccurrenceFinder::countedForm(*finder, word);
    // Nothing is wrong with a word that occurs nowhere, but one that can never occur is a mistake.
    const QString never = whyNeverCounted(*finder, word);
    if (!never.isEmpty())
        writeErr(u"corvalen context: "_qs + never + u'\n');

    DropScanNotes scanNotes;
    query.files = filesOfPaths(given, &scanNotes);

    const std::unique_ptr<OccurrenceFinder> search = OccurrenceFinder::create(query, &rulesError);
    if (!search) { // a list that became unreadable since
        writeErr(u"corvalen context: "_qs + rulesError + u'\n');
        return UsageError;
    }
    QStringList names;
    for (const QString &path : std::as_const(query.files)) {
        QString name = QDir::toNativeSeparators(path);
        for (QChar &c : name) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F) // keeps one occurrence one line
                c = u' ';
        }
        names.append(name);
    }
    qint64 occurrences = 0;
    bool unreadable = false;
    std::atomic<bool> stop{false};
    QString error;
    const bool written = writeToStandardOutput(
            [&](QIODevice &device, QString *) {
                // The lines are encoded and written on a thread of their own, batch by batch in
                // the order found: the search, on this one, takes the most time, and encoding a
                // million lines beside it keeps the second core busy.
                LineWriter writer(device, names);
                search->run(
                        [&](Occurrence &&o) {
                            if (o.failed) {
                                unreadable = true;
                                writeErr(o.text + u'\n');
                                return;
                            }
                            ++occurrences;
                            if (!writer.add(std::move(o)))
                                stop = true;
                        },
                        &stop);
                return writer.finish();
            },
            &error);
    if (!written)
        writeErr(tr("Could not write the occurrences to standard output: %1.").arg(error) + u'\n');
    writeErr(u" Occurrences: "_qs + QString::number(occurrences) + u'\n');
    return written && !unreadable && scanNotes.unreadable.isEmpty() ? Success : Failed;
}

} // namespace

bool isCommandLine(int argc, char *argv[])
{
    if (argc < 2)
        return false;
    for (const char *word : {"count", "context", "-h", "--help", "-help", "-v", "--version", "-version"}) {
        if (std::strcmp(argv[1], word) == 0)
            return true;
    }
    return false;
}

int runCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Corvalen"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVALEN_VERSION));
    // The arguments exactly as given: Qt's decoding drops a leading U+FEFF and turns bytes that
    // are not UTF-8 (a file name of another system) into U+FFFD, after which no such file exists.
    QStringList arguments;
    for (int i = 2; i <= argc; ++i)
        arguments.append(decodeFileName(QByteArrayView(argv[i - 1], qsizetype(std::strlen(argv[i - 1])))));
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == u"count")
        return runCount(arguments);
    if (command == u"context")
        return runContext(arguments);
    if (command == u"-v" || command.endsWith(u"version")) {
        writeOut(versionText());
        return Success;
    }
    writeOut(generalHelp());
    return Success;
}

} // namespace corvalen
