#include "cli/commandline.h"

#include "base/errorreport.h"
#include "base/figures.h"
#include "base/filenames.h"
#include "base/plurals.h"
#include "base/safefile.h"
#include "cli/prefetchingsource.h"
#include "cli/rowspill.h"
#include "cli/wordruleoptions.h"
#include "corpus/clusters.h"
#include "corpus/collocates.h"
#include "corpus/concordance.h"
#include "corpus/dispersion.h"
#include "corpus/keywords.h"
#include "corpus/lexicalvariety.h"
#include "corpus/worddispersion.h"
#include "corpus/tableoutput.h"
#include "documents/documentengine.h"
#include "engine/analysisrun.h"
#include "engine/twohalves.h"
#include "engine/utf8.h"
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
#include <array>
#include <map>
#include <optional>
#include <system_error>
#include <thread>

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
              "       corvalen dispersion [OPTIONS] QUERY PATH...\n"
              "       corvalen collocates [OPTIONS] QUERY PATH...\n"
              "       corvalen clusters [OPTIONS] QUERY PATH...\n"
              "       corvalen keywords --reference PATH | --reference-list FILE [OPTIONS] PATH...\n"
              "\n"
              "Counts the words of documents and shows how often each distinct word occurs.\n"
              "\n"
              "  corvalen [PATH...]              open the windows, with the paths in the file list\n"
              "                                  (a file named like a command: ./count)\n"
              "  corvalen count [OPTIONS] PATH   count and write the results (corvalen count --help)\n"
              "  corvalen context WORD PATH      every occurrence of WORD in its context\n"
              "                                  (corvalen context --help)\n"
              "  corvalen dispersion QUERY PATH  where QUERY occurs in each file\n"
              "                                  (corvalen dispersion --help)\n"
              "  corvalen collocates QUERY PATH  the words that keep company with QUERY\n"
              "                                  (corvalen collocates --help)\n"
              "  corvalen clusters QUERY PATH    the recurring runs of words around QUERY\n"
              "                                  (corvalen clusters --help)\n"
              "  corvalen keywords PATH          the words key in PATH against a reference\n"
              "                                  (corvalen keywords --help)\n"
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
    // variety holds the ratios that do not depend on length, of each file and of all.
    QString text(const RunOutcome &outcome, const LexicalVarietyResult &variety) const
    {
        QString out;
        for (qsizetype i = 0; i < m_files.size(); ++i) {
            const auto &[name, stats] = m_files.at(i);
            const bool read = size_t(i) < outcome.counted.size() && outcome.counted[size_t(i)];
            out += name + u'\n'
                    + (read ? lines(stats) + varietyLines(variety.files.at(size_t(i)))
                            : tr("Not read: the file could not be counted.\n"));
        }
        if (!m_perFile)
            return out + lines(m_all) + varietyLines(variety.all);
        StatisticsCollector all;
        for (auto it = m_summed.cbegin(); it != m_summed.cend(); ++it)
            all.add(it.key(), it.value());
        return out + lines(all.statistics()) + varietyLines(variety.all);
    }

private:
    static QString lines(const WordListStatistics &s)
    {
        return u"Tokens: %1\nTypes: %2\nType/token ratio: %3\nHapax legomena: %4\n"_qs
                .arg(s.tokens)
                .arg(s.types)
                .arg(fixedFigure(s.typeTokenRatio(), 4))
                .arg(s.hapaxLegomena);
    }
    static QString varietyLines(const LexicalVariety &v)
    {
        return u"Standardised type/token ratio (1,000 words): %1\nMoving-average type/token ratio (500 words): %2\n"_qs
                .arg(fixedFigure(v.standardised, 4), fixedFigure(v.movingAverage, 4));
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

// A combined count's rows with how each spreads over the files: the layouts of count with three
// columns more (per million, Juilland's D, DP). The rows are read as they are written, each row's
// dispersion looked up again on each pass: nothing is held for every row.
bool writeDispersionRows(const ResultRows &rows, const FileWordCounts &counts, qint64 total, const QString &layout,
                         QStringList headers, QIODevice &device, QString *reason)
{
    const auto fixed = [](const std::optional<double> &v, int places) {
        return v ? TableCell::fixed(*v, places) : TableCell::none();
    };
    bool written = true;
    // Each row until a write fails; false, with reason, when the rows cannot be read.
    const auto eachRow = [&](const std::function<bool(const ResultRow &, const WordDispersion &)> &visit) {
        QString error;
        const bool read = rows.forEachRow(
                [&](const ResultRow &r) {
                    written = visit(r, counts.of(r.word, r.count, total));
                    return written;
                },
                &error);
        if (!read)
            *reason = error;
        return read && written;
    };
    if (layout == u"csv" || layout == u"json") {
        TableWriter table(device, layout == u"csv" ? TableFormat::Csv : TableFormat::Json,
                          {u"word"_qs, u"count"_qs, u"files"_qs, u"per_million"_qs, u"juilland_d"_qs, u"dp"_qs});
        return eachRow([&](const ResultRow &r, const WordDispersion &d) {
            return table.row({TableCell::textCell(r.word.toString()), TableCell::number(r.count), TableCell::number(r.files),
                              TableCell::fixed(d.perMillion, 3), fixed(d.juillandD, 4), fixed(d.dp, 4)});
        }) && table.finish();
    }
    // The padded layouts: every cell padded to its column's width, the last bare on the clipboard's.
    // The widths are found in a first pass over the rows.
    headers << tr("Per million") << tr("Juilland's D") << tr("DP");
    const bool text = layout == u"text";
    const auto cellsOf = [&](const ResultRow &r, const WordDispersion &d) {
        return std::array<QString, 6>{r.word.toString(), QString::number(r.count), QString::number(r.files),
                                      TableCell::fixed(d.perMillion, 3).text, fixed(d.juillandD, 4).text, fixed(d.dp, 4).text};
    };
    std::array<qsizetype, 6> widths{};
    for (int c = 0; c < 6 && text; ++c)
        widths[size_t(c)] = headers.value(c).size();
    const bool measured = eachRow([&](const ResultRow &r, const WordDispersion &d) {
        const std::array<QString, 6> row = cellsOf(r, d);
        for (size_t c = 0; c < 6; ++c) {
            if (c != 0 || row[c].size() <= CellWidths::kMaxPaddedWordWidth)
                widths[c] = std::max(widths[c], row[c].size());
        }
        return true;
    });
    if (!measured)
        return false;
    QString out;
    const auto line = [&](const std::array<QString, 6> &row) {
        for (size_t c = 0; c < 6; ++c) {
            out += row[c];
            const bool last = c == 5;
            if (text || !last)
                out += QString(std::max<qsizetype>(0, widths[c] - row[c].size()), u' ');
            if (text || !last)
                out += u'\t';
        }
        out += u"\r\n";
        if (out.size() > (1 << 16)) {
            const bool ok = writeAll(device, out.toUtf8());
            out.clear();
            return ok;
        }
        return true;
    };
    if (text && !line({headers.value(0), headers.value(1), headers.value(2), headers.value(3), headers.value(4), headers.value(5)}))
        return false;
    if (!eachRow([&](const ResultRow &r, const WordDispersion &d) { return line(cellsOf(r, d)); }))
        return false;
    if (text)
        out += u"\r\n";
    return writeAll(device, out.toUtf8());
}

// A target that cannot be written is named before anything is read; false then.
bool outputWritable(const QString &path)
{
    QString error;
    if (path.isEmpty() || canWriteFileSafely(path, &error))
        return true;
    writeErr(error + u'\n');
    return false;
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
                                   tr("After the total, write tokens, types, type/token ratio, hapax "
                                      "legomena and the standardised (1,000-word parts) and moving-average "
                                      "(500-word windows) type/token ratios to standard error (per file, "
                                      "each file's first)."));
    const QCommandLineOption output(QStringList{u"o"_qs, u"output"_qs},
                                    tr("Write the results to FILE (replaced only when complete) "
                                       "instead of standard output."),
                                    u"FILE"_qs);
    const QCommandLineOption help(QStringList{u"h"_qs, u"help"_qs}, tr("Show this help."));
    const QCommandLineOption version(QStringList{u"v"_qs, u"version"_qs}, tr("Show the version."));
    const QCommandLineOption dispersion(u"dispersion"_qs,
                                        tr("With --combined: how each word spreads over the files (implies "
                                           "--range): columns per million words, Juilland's D and Gries' DP "
                                           "over the files as parts (empty with one file)."));
    parser.addOptions({combined, perFile, ignoreCase, keepCase, fileName, noFileName, range, dispersion});
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
    if (parser.isSet(dispersion) && !parser.isSet(combined))
        return usageError(u"count"_qs, tr("--dispersion needs --combined: it is how a combined count spreads over its files."));
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
    options.fileRange = parser.isSet(range) || parser.isSet(dispersion);
    const bool withDispersion = parser.isSet(dispersion);
    if (withDispersion && layout == u"xlsx")
        return usageError(u"count"_qs, tr("--dispersion writes tsv, text, csv or json."));
    // Stop-word lists are read once, before anything is counted: one that cannot be read is named.
    options.finder = WordFinder::create(options.rules, options.ignoreCase, &rulesError);
    if (!options.finder) {
        writeErr(u"corvalen count: "_qs + rulesError + u'\n');
        return UsageError;
    }
    for (const QString &note : options.finder->notes())
        writeErr(u"corvalen count: "_qs + note + u'\n');

    // A target that cannot be written is named before anything is counted.
    if (!outputWritable(outputPath))
        return Failed;

    DropScanNotes scanNotes;
    const QStringList paths = filesOfPaths(given, &scanNotes);

    StderrReporter reporter;
    const WordRules::Paragraphs paragraphs = options.rules.paragraphs;
    PrefetchingSource source(
            paths,
            [paragraphs](ErrorReporter *r) {
                auto engine = std::make_unique<DocumentEngine>(r);
                engine->setParagraphs(paragraphs);
                return engine;
            },
            &reporter);
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
    RowSpill spill(options.fileNameColumn(), options.finder->groupsWords(), options.fileRange);
    spill.setFolder(outputPath.isEmpty() ? QDir::tempPath() : scratchFolderFor(outputPath));
    std::unique_ptr<RunStatistics> statistics;
    if (parser.isSet(stats))
        statistics = std::make_unique<RunStatistics>(options.mode == CountMode::PerFile);
    qint64 counted = 0; // the total: --min-count and --top drop rows, not words counted
    qsizetype block = 0;
    // The ratios of parts and windows need the words in their order, which a count does not keep:
    // the files are read again for them.
    LexicalVarietyResult variety;
    // So do the words of each file that tell how each word spreads over them.
    std::optional<FileWordCounts> fileCounts;
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
    // Then the readings for the ratios and the dispersion: each uses both cores as the count does,
    // so beside it they would gain nothing but hold memory at the same time.
    if (statistics)
        variety = measureLexicalVariety(paths, options.finder);
    if (withDispersion)
        fileCounts = FileWordCounts::measure(paths, options.finder);
    if (terminal)
        terminal->clear();

    QStringList headers = resultHeaders(options);
    if (options.fileRange)
        headers << tr("Files");
    const auto writeText = [&](QIODevice &device, QString *reason) {
        if (withDispersion)
            return writeDispersionRows(spill, *fileCounts, counted, layout, headers, device, reason);
        if (layout == u"csv")
            return writeResultsCsv(spill, device, reason);
        if (layout == u"json")
            return writeResultsJson(spill, device, reason);
        return layout == u"text"
                ? writeResultsText(spill, headers, spill.widths().withHeaders(headers), device, reason)
                : writeClipboardText(spill, spill.widths().widths(), device, reason);
    };
    QString error;
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
        writeErr(statistics->text(outcome, variety));
    return written && !reporter.anyReported() && scanNotes.unreadable.isEmpty() ? Success : Failed;
}

// Why a query can match nothing under the rules, as a sentence naming the option concerned;
// empty when it can match.
QString whyNothingMatches(const CorpusQuery &query, const WordFinder &finder)
{
    const int length = finder.rules().phraseLength;
    if (length > 1 && query.length() != length) {
        if (query.length() == 1)
            return tr("\"%1\" is one word: with --ngrams %2 every counted phrase is %2 words.")
                    .arg(query.text())
                    .arg(length);
        return tr("\"%1\" is %2 words: with --ngrams %3 every counted phrase is %3 words.")
                .arg(query.text())
                .arg(query.length())
                .arg(length);
    }
    for (qsizetype k = 0; k < query.length(); ++k) {
        if (query.word(k).never)
            return whyNeverCounted(finder, query.word(k).literal);
    }
    return QString();
}

// Names of files as lines show them: one line a line.
QStringList shownFileNames(const QStringList &files)
{
    QStringList names;
    for (const QString &path : files) {
        QString name = QDir::toNativeSeparators(path);
        for (QChar &c : name) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                c = u' ';
        }
        names.append(name);
    }
    return names;
}

// What the corpus commands share: a query of the workbench's language over files.
struct QueryCommand
{
    QString command;
    QCommandLineParser parser;
    QCommandLineOption ignoreCase{u"ignore-case"_qs, tr("Ignore letter case (default).")};
    QCommandLineOption keepCase{u"keep-case"_qs, tr("Words that differ in case are different words.")};
    QCommandLineOption regex{u"regex"_qs,
                             tr("Each word of the query is a regular expression that must match the "
                                "whole counted word.")};
    QCommandLineOption help{QStringList{u"h"_qs, u"help"_qs}, tr("Show this help.")};
    std::shared_ptr<const WordFinder> finder;
    std::optional<CorpusQuery> query;
    QStringList files;
    DropScanNotes scanNotes;
    bool phrasesCounted = true; // whether --ngrams is one of the command's options

    explicit QueryCommand(const QString &name) : command(name)
    {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    }

    // After the command's own options are added: parses, reads the rules and the query, finds the
    // files. Returns -1 to go on, or the exit status.
    int prepare(const QStringList &arguments, const QString &usage, const QString &queryName)
    {
        parser.addOptions({ignoreCase, keepCase, regex});
        addWordRuleOptions(parser);
        parser.addOption(help);
        parser.addPositionalArgument(queryName,
                                     tr("A word as the count shows it: * stands for any run of characters, ? for "
                                        "one; several words are a phrase of consecutive counted words."));
        parser.addPositionalArgument(u"PATH"_qs, tr("Files and folders; - reads paths from standard input."),
                                     u"PATH..."_qs);
        if (!parser.parse(QStringList{u"corvalen "_qs + command} + arguments))
            return usageError(command, parser.errorText());
        if (parser.isSet(help))
            return writeCommandHelp(parser, usage);
        if (parser.isSet(ignoreCase) && parser.isSet(keepCase))
            return usageError(command, tr("--ignore-case and --keep-case cannot be used together."));
        QString error;
        QStringList notes;
        const std::optional<WordRules> rules = wordRulesFromParser(parser, &error, &notes);
        if (!rules)
            return usageError(command, error);
        if (!phrasesCounted && parser.isSet(u"ngrams"_qs))
            return usageError(command, tr("--ngrams does not combine with %1: it finds runs of words itself.").arg(command));
        for (const QString &note : std::as_const(notes))
            writeErr(u"corvalen "_qs + command + u": "_qs + note + u'\n');
        QStringList given = parser.positionalArguments();
        if (given.isEmpty())
            return usageError(command, tr("no %1 given.").arg(queryName));
        const QString text = given.takeFirst();
        if (given.isEmpty())
            return usageError(command, tr("no PATH given."));
        // Stop-word lists are read once, before anything is searched: one that cannot be read is named.
        finder = WordFinder::create(*rules, !parser.isSet(keepCase), &error);
        if (!finder) {
            writeErr(u"corvalen "_qs + command + u": "_qs + error + u'\n');
            return UsageError;
        }
        for (const QString &note : finder->notes())
            writeErr(u"corvalen "_qs + command + u": "_qs + note + u'\n');
        // Words are found as counted, so case is matched exactly as the count keeps it.
        query = CorpusQuery::parse(text, parser.isSet(regex) ? QueryMode::RegularExpression : QueryMode::Words,
                                   true, *finder, &error);
        // An empty word finds nothing, as the count counts nothing of it; any other query that
        // cannot be parsed (too many words, an expression or a wildcard the pattern engine
        // refuses) would find nothing for no reason the user could see.
        if (!query && (parser.isSet(regex) || !text.split(u' ', Qt::SkipEmptyParts).isEmpty()))
            return usageError(command, error);
        // Nothing is wrong with a word that occurs nowhere, but one that can never occur is a mistake.
        const QString never = query ? whyNothingMatches(*query, *finder) : whyNeverCounted(*finder, text);
        if (!never.isEmpty())
            writeErr(u"corvalen "_qs + command + u": "_qs + never + u'\n');
        files = filesOfPaths(given, &scanNotes);
        return -1;
    }

    // Names the counted words on which the pattern engine gave up (they were taken as not
    // matching), after the search.
    void noteGivenUpWords() const
    {
        const QString note = query ? query->givenUpNote() : QString();
        if (!note.isEmpty())
            writeErr(u"corvalen "_qs + command + u": "_qs + note + u".\n"_qs);
    }

    // The query, or one that never matches where it failed to parse: the files are still read
    // for their words.
    CorpusQuery queryOrNothing() const
    {
        return query ? *query : *CorpusQuery::parse(u"\x01"_qs, QueryMode::Words, true, *finder);
    }
};

// "corvalen context": every occurrence of a query, in its context, as lines.
int runContext(const QStringList &arguments)
{
    QueryCommand c(u"context"_qs);
    QCommandLineParser &parser = c.parser;
    parser.setApplicationDescription(
            tr("Writes every occurrence of WORD in the files and folders given (\"-\" reads paths "
               "from standard input, one per line) as one line: the file, the text to the left, "
               "the occurrence as it stands in the text and the text to the right, separated by "
               "tabs; control characters show as spaces. Files come in the order given, then "
               "occurrences in text order, unless --sort orders them. WORD is a word as \"corvalen "
               "count\" shows it with the same options (typed in any letter case when case is "
               "ignored), where * stands for any run of characters and ? for one; several words are "
               "a phrase of consecutive counted words of one paragraph. There are as many lines as "
               "the count gives the words WORD matches. The number of occurrences goes to standard "
               "error."));
    const QCommandLineOption width(u"width"_qs,
                                   tr("Characters of context on each side, %1 to %2 (default %3).")
                                           .arg(ConcordanceRequest::kMinWidth)
                                           .arg(ConcordanceRequest::kMaxWidth)
                                           .arg(ConcordanceRequest::kDefaultWidth),
                                   u"N"_qs);
    const QCommandLineOption sort(u"sort"_qs,
                                  tr("Order the lines by up to three comma-separated keys: 5L ... 1L (the "
                                     "counted words before the occurrence, nearest 1L), hit, 1R ... 5R (the "
                                     "words after it), file, position (text order, the default; it ends an "
                                     "order, so no key may follow it). Words "
                                     "compare in the Unicode root collation; a missing word sorts first; "
                                     "ties by the next key, then text order."),
                                  u"KEYS"_qs, u"position"_qs);
    const QCommandLineOption combined(u"combined"_qs, tr("One count for all files (the same lines)."));
    const QCommandLineOption perFile(u"per-file"_qs, tr("A separate count for each file (default)."));
    parser.addOptions({width, sort, combined, perFile});
    const int prepared = c.prepare(arguments, tr("Usage: corvalen context [OPTIONS] WORD PATH..."), u"WORD"_qs);
    if (prepared >= 0)
        return prepared;
    if (parser.isSet(combined) && parser.isSet(perFile))
        return usageError(u"context"_qs, tr("--combined and --per-file cannot be used together."));
    for (const QCommandLineOption *once : {&width, &sort}) {
        if (parser.values(*once).size() > 1)
            return usageError(u"context"_qs, tr("--width and --sort may be given once."));
    }
    ConcordanceRequest request;
    if (parser.isSet(width)) {
        const std::optional<qint64> n = countValue(parser.value(width));
        if (!n || *n < ConcordanceRequest::kMinWidth || *n > ConcordanceRequest::kMaxWidth)
            return usageError(u"context"_qs, tr("--width needs a whole number from %1 to %2.")
                                             .arg(ConcordanceRequest::kMinWidth)
                                             .arg(ConcordanceRequest::kMaxWidth));
        request.width = int(*n);
    }
    QString error;
    const std::optional<QList<SortKey>> keys = parseSortKeys(parser.value(sort), &error);
    if (!keys)
        return usageError(u"context"_qs, error);
    const bool textOrder = std::all_of(keys->begin(), keys->end(), [](SortKey k) { return k == SortKey::Position; });

    qint64 occurrences = 0;
    bool unreadable = false;
    bool written = true;
    if (c.query) {
        request.files = c.files;
        request.finder = c.finder;
        request.query = *c.query;
        request.neighbours = !textOrder;
        const QStringList names = shownFileNames(request.files);
        if (textOrder)
            request.lineNames = names;
        ConcordanceSearch search(request);
        // In an order of its own, each line is kept as its text in UTF-8 (left, hit and right; the
        // file's name is written with it) and its values at the keys, not as the search's line:
        // the lines found may be every word of a corpus.
        struct HeldLine
        {
            quint32 piece; // the batch it came in
            quint32 start; // of its text in the batch's UTF-8
            qint32 file;
        };
        std::vector<QByteArray> pieces;
        std::vector<HeldLine> held;
        std::vector<std::array<quint32, 3>> values; // a line's word numbers + 1 (0: none), or file, at each key
        std::vector<quint8> named;                  // the words the keys look at, by number
        const auto valueAt = [](const ConcordanceLine &l, SortKey key) -> quint32 {
            switch (key) {
            case SortKey::Hit:
                return l.hitWord + 1;
            case SortKey::File:
                return quint32(l.file);
            case SortKey::Position:
                return 0;
            default: // 5L .. 1L lie before Hit in the order of the keys, 1R .. 5R after it
                return l.neighbour(int(key) - int(SortKey::Hit));
            }
        };
        const auto isWordKey = [](SortKey key) { return key != SortKey::File && key != SortKey::Position; };
        const auto hold = [&](const ConcordanceBatch &batch) {
            qsizetype room = 0;
            for (const ConcordanceLine &l : batch.lines)
                room += 3 * l.text.size() + 3;
            QByteArray piece(room, Qt::Uninitialized);
            char *p = piece.data();
            for (const ConcordanceLine &l : batch.lines) {
                if (l.failed)
                    continue;
                held.push_back({quint32(pieces.size()), quint32(p - piece.constData()), l.file});
                p = putUtf8(p, l.left());
                *p++ = '\t';
                p = putUtf8(p, l.hit());
                *p++ = '\t';
                p = putUtf8(p, l.right());
                *p++ = '\n';
                std::array<quint32, 3> v{};
                for (qsizetype level = 0; level < keys->size() && level < 3; ++level) {
                    v[size_t(level)] = valueAt(l, keys->at(level));
                    if (isWordKey(keys->at(level)) && v[size_t(level)] > 0) {
                        if (v[size_t(level)] > named.size())
                            named.resize(std::max<size_t>(v[size_t(level)], named.size() * 3 / 2 + 1024), 0);
                        named[v[size_t(level)] - 1] = 1;
                    }
                }
                values.push_back(v);
            }
            piece.truncate(p - piece.constData());
            piece.squeeze(); // the room was made for three bytes a unit
            pieces.push_back(std::move(piece));
        };
        written = writeToStandardOutput(
                [&](QIODevice &device, QString *) {
                    bool ok = true;
                    std::atomic<bool> stop{false};
                    search.run(
                            [&](ConcordanceBatch &&batch) {
                                for (const ConcordanceLine &l : batch.lines) {
                                    if (l.failed) {
                                        unreadable = true;
                                        writeErr(l.text.toString() + u'\n');
                                        continue;
                                    }
                                    ++occurrences;
                                }
                                if (textOrder && ok && !batch.utf8.isEmpty()) {
                                    // The lines come encoded, batch by batch.
                                    ok = writeAll(device, batch.utf8);
                                    if (!ok)
                                        stop = true;
                                }
                                if (!textOrder)
                                    hold(batch);
                            },
                            &stop);
                    if (!textOrder && ok) {
                        named.resize(search.vocabulary()->size(), 0);
                        const WordRanks ranks = WordRanks::ofNamed(named, *search.vocabulary());
                        named = {};
                        const std::vector<quint32> fileRanks = WordRanks::ofNames(names);
                        for (std::array<quint32, 3> &v : values) {
                            for (qsizetype level = 0; level < keys->size() && level < 3; ++level) {
                                const SortKey key = keys->at(level);
                                quint32 &x = v[size_t(level)];
                                x = isWordKey(key) ? ranks.rank(x) : key == SortKey::File ? fileRanks[x] : 0;
                            }
                        }
                        const std::vector<qint32> order = orderByValues(std::move(values));
                        std::vector<QByteArray> nameBytes;
                        for (const QString &name : names)
                            nameBytes.push_back(name.toUtf8() + '\t');
                        const auto textOf = [&](size_t i) {
                            const HeldLine &h = held[i];
                            const bool nextInPiece = i + 1 < held.size() && held[i + 1].piece == h.piece;
                            const qsizetype end = nextInPiece ? qsizetype(held[i + 1].start) : pieces[h.piece].size();
                            return QByteArrayView(pieces[h.piece].constData() + h.start, end - qsizetype(h.start));
                        };
                        // Stretches of lines put together two at a time, on two threads, and written
                        // in order: reading lines all over memory is the slow part.
                        constexpr size_t kStretch = 32768;
                        QByteArray made[2];
                        const auto render = [&](size_t from, QByteArray &out) {
                            const size_t to = std::min(order.size(), from + kStretch);
                            qsizetype used = 0;
                            for (size_t k = from; k < to; ++k) {
                                // The lines lie all over memory: each is asked for before it is read.
                                if (k + 8 < to)
                                    __builtin_prefetch(textOf(size_t(order[k + 8])).data());
                                const size_t i = size_t(order[k]);
                                const QByteArray &name = nameBytes[size_t(held[i].file)];
                                const QByteArrayView text = textOf(i);
                                if (used + name.size() + text.size() > out.size())
                                    out.resize(std::max(2 * out.size(), used + name.size() + text.size() + (1 << 20)));
                                std::memcpy(out.data() + used, name.constData(), size_t(name.size()));
                                used += name.size();
                                std::memcpy(out.data() + used, text.data(), size_t(text.size()));
                                used += text.size();
                            }
                            return used;
                        };
                        for (size_t from = 0; from < order.size() && ok; from += 2 * kStretch) {
                            qsizetype made0 = 0, made1 = 0;
                            onTwoThreads([&] { made1 = render(from + kStretch, made[1]); },
                                         [&] { made0 = render(from, made[0]); });
                            ok = writeAll(device, QByteArrayView(made[0].constData(), made0))
                                    && writeAll(device, QByteArrayView(made[1].constData(), made1));
                        }
                    }
                    return ok;
                },
                &error);
    }
    if (!written)
        writeErr(tr("Could not write the occurrences to standard output: %1.").arg(error) + u'\n');
    c.noteGivenUpWords();
    writeErr(u" Occurrences: "_qs + QString::number(occurrences) + u'\n');
    return written && !unreadable && c.scanNotes.unreadable.isEmpty() ? Success : Failed;
}

// "corvalen dispersion": where a query occurs in each file.
int runDispersion(const QStringList &arguments)
{
    QueryCommand c(u"dispersion"_qs);
    QCommandLineParser &parser = c.parser;
    parser.setApplicationDescription(
            tr("Writes one row per file, in the order given: the file, its counted words, the hits of "
               "QUERY in it, hits per 1,000 words, Juilland's D over ten equal parts of the file's "
               "words (empty without hits) and the places of the hits (the 0-based numbers of their "
               "first words among the file's counted words). A file that could not be read has "
               "\"unread\" for its words and the other fields empty (null in json). QUERY is a word as "
               "\"corvalen context\" takes it."));
    const QCommandLineOption format(u"format"_qs,
                                    tr("tsv: tab-separated rows without a header (default); csv: with the "
                                       "header file,words,hits,per_1000,juilland_d,positions; json: an array "
                                       "of objects."),
                                    u"tsv|csv|json"_qs, u"tsv"_qs);
    const QCommandLineOption output(QStringList{u"o"_qs, u"output"_qs},
                                    tr("Write the rows to FILE (replaced only when complete) instead of "
                                       "standard output."),
                                    u"FILE"_qs);
    parser.addOptions({format, output});
    const int prepared = c.prepare(arguments, tr("Usage: corvalen dispersion [OPTIONS] QUERY PATH..."), u"QUERY"_qs);
    if (prepared >= 0)
        return prepared;
    for (const QCommandLineOption *once : {&format, &output}) {
        if (parser.values(*once).size() > 1)
            return usageError(u"dispersion"_qs, tr("--format and -o may be given once."));
    }
    TableFormat tableFormat;
    if (!tableFormatFromName(parser.value(format), &tableFormat))
        return usageError(u"dispersion"_qs, tr("unknown format \"%1\" (tsv, csv or json).").arg(parser.value(format)));
    const QString outputPath = parser.value(output);
    if (parser.isSet(output) && outputPath.isEmpty())
        return usageError(u"dispersion"_qs, tr("-o needs a file name."));
    if (!outputWritable(outputPath))
        return Failed;

    // Nothing can match a query that fails to parse: the files are still counted for their words.
    ConcordanceRequest request;
    request.files = c.files;
    request.finder = c.finder;
    request.query = c.queryOrNothing();
    request.positionsOnly = true;
    ConcordanceSearch search(request);
    std::vector<FileDispersion> files(size_t(c.files.size()));
    search.runPlaces([&](qint32 file, const std::vector<qint64> &positions) {
        files[size_t(file)].positions.insert(files[size_t(file)].positions.end(), positions.begin(), positions.end());
    });
    c.noteGivenUpWords();
    for (size_t i = 0; i < files.size(); ++i) {
        FileDispersion &f = files[i];
        f.file = qint32(i);
        f.failed = search.fileWords()[i] < 0;
        f.words = f.failed ? 0 : search.fileWords()[i];
        f.failure = search.failure(qint32(i));
        if (f.failed)
            f.positions.clear();
    }
    bool unreadable = false;
    for (const FileDispersion &f : files) {
        if (f.failed) {
            unreadable = true;
            writeErr((f.failure.isEmpty() ? tr("%1 could not be read.").arg(QDir::toNativeSeparators(c.files.at(f.file)))
                                          : f.failure)
                     + u'\n');
        }
    }
    const auto writeRows = [&](QIODevice &device, QString *) {
        TableWriter table(device, tableFormat,
                          {u"file"_qs, u"words"_qs, u"hits"_qs, u"per_1000"_qs, u"juilland_d"_qs, u"positions"_qs});
        for (const FileDispersion &f : files) {
            if (f.failed) {
                // Not an empty file: its words are not known.
                if (!table.row({TableCell::textCell(QDir::toNativeSeparators(c.files.at(f.file))),
                                TableCell::textCell(u"unread"_qs), TableCell::none(), TableCell::none(),
                                TableCell::none(), TableCell::none()}))
                    return false;
                continue;
            }
            const std::optional<double> d = f.juillandD();
            if (!table.row({TableCell::textCell(QDir::toNativeSeparators(c.files.at(f.file))),
                            TableCell::number(f.words), TableCell::number(f.hits()),
                            TableCell::fixed(f.perThousand(), 3),
                            d ? TableCell::fixed(*d, 4) : TableCell::none(), TableCell::numbers(f.positions)}))
                return false;
        }
        return table.finish();
    };
    QString error;
    // No file read: -o keeps what it holds, as with count.
    const bool nothing = std::all_of(files.begin(), files.end(), [](const FileDispersion &f) { return f.failed; });
    const bool written = (nothing && !outputPath.isEmpty()) || (outputPath.isEmpty() ? writeToStandardOutput(writeRows, &error)
                                                                                     : writeFileSafely(outputPath, writeRows, &error));
    if (!written)
        writeErr((outputPath.isEmpty() ? tr("Could not write the rows to standard output: %1.").arg(error) : error) + u'\n');
    return written && !unreadable && c.scanNotes.unreadable.isEmpty() ? Success : Failed;
}

// Writes a table to -o FILE (through the checked write routine) or standard output; false, the
// failure named on standard error, when it could not be written.
bool writeTableOut(const QString &outputPath, TableFormat format, const QStringList &columns,
                   const std::function<bool(TableWriter &table)> &rows)
{
    const auto write = [&](QIODevice &device, QString *) {
        TableWriter table(device, format, columns);
        return rows(table) && table.finish();
    };
    QString error;
    const bool written = outputPath.isEmpty() ? writeToStandardOutput(write, &error)
                                              : writeFileSafely(outputPath, write, &error);
    if (!written)
        writeErr((outputPath.isEmpty() ? tr("Could not write the rows to standard output: %1.").arg(error) : error) + u'\n');
    return written;
}

// The options of a corpus command's table: --format, --top, -o.
struct TableOptions
{
    QCommandLineOption format{u"format"_qs,
                              tr("tsv: tab-separated rows without a header (default); csv: with a header "
                                 "line; json: an array of objects."),
                              u"tsv|csv|json"_qs, u"tsv"_qs};
    QCommandLineOption top{u"top"_qs, tr("Keep the first N rows."), u"N"_qs};
    QCommandLineOption output{QStringList{u"o"_qs, u"output"_qs},
                              tr("Write the rows to FILE (replaced only when complete) instead of standard "
                                 "output."),
                              u"FILE"_qs};
    TableFormat tableFormat = TableFormat::Tsv;
    qint64 topRows = -1;
    QString outputPath;

    void add(QCommandLineParser &parser) { parser.addOptions({format, top, output}); }

    // Reads the values; an error text for a usage error, else empty.
    QString read(const QCommandLineParser &parser)
    {
        for (const QCommandLineOption *once : {&format, &top, &output}) {
            if (parser.values(*once).size() > 1)
                return tr("--format, --top and -o may be given once.");
        }
        if (!tableFormatFromName(parser.value(format), &tableFormat))
            return tr("unknown format \"%1\" (tsv, csv or json).").arg(parser.value(format));
        if (parser.isSet(top)) {
            const std::optional<qint64> n = countValue(parser.value(top));
            if (!n)
                return tr("--top needs a whole number of 0 or more.");
            topRows = *n;
        }
        outputPath = parser.value(output);
        if (parser.isSet(output) && outputPath.isEmpty())
            return tr("-o needs a file name.");
        return QString();
    }
};

// A whole number from lowest to highest, or nullopt.
std::optional<qint64> numberFrom(const QString &text, qint64 lowest, qint64 highest)
{
    const std::optional<qint64> n = countValue(text.trimmed());
    return n && *n >= lowest && *n <= highest ? n : std::nullopt;
}

// "L,R" of two whole numbers from lowest to highest.
std::optional<std::pair<int, int>> pairFrom(const QString &text, int lowest, int highest)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 2)
        return std::nullopt;
    const std::optional<qint64> a = numberFrom(parts.at(0), lowest, highest);
    const std::optional<qint64> b = numberFrom(parts.at(1), lowest, highest);
    if (!a || !b)
        return std::nullopt;
    return std::make_pair(int(*a), int(*b));
}

// Names the files a corpus command could not read; whether there were any.
bool reportFailures(const std::vector<std::pair<qint32, QString>> &failures, const QStringList &files)
{
    for (const auto &[file, why] : failures)
        writeErr((why.isEmpty() ? tr("%1 could not be read.").arg(QDir::toNativeSeparators(files.value(file))) : why) + u'\n');
    return !failures.empty();
}

// Whether no file could be read (or none was given): then, as with count, nothing was found and
// -o keeps what it holds.
bool nothingRead(const std::vector<std::pair<qint32, QString>> &failures, qsizetype files)
{
    std::vector<qint32> failed;
    for (const auto &[file, why] : failures)
        failed.push_back(file);
    std::sort(failed.begin(), failed.end());
    return qsizetype(std::unique(failed.begin(), failed.end()) - failed.begin()) >= files;
}

// "corvalen collocates": the words that keep company with a word, by an association measure.
int runCollocates(const QStringList &arguments)
{
    QueryCommand c(u"collocates"_qs);
    c.phrasesCounted = false;
    QCommandLineParser &parser = c.parser;
    parser.setApplicationDescription(
            tr("Writes the collocates of QUERY (the node, one word as \"corvalen context\" takes it): every "
               "counted word within L words to the left and R to the right of the node's occurrences, in "
               "the same file, across paragraph ends, with its co-occurrences (left and right), its "
               "frequency and the measures MI, MI3, T-score, log-likelihood and logDice. A word at one "
               "place counts once for each node occurrence whose window reaches it: where occurrences of "
               "the node stand closer than the span their windows overlap, so the co-occurrences can "
               "exceed the collocate's frequency, and logDice 14. Standard error ends with the node's "
               "occurrences and the corpus's words."));
    const QCommandLineOption span(u"span"_qs, tr("Words to the left and right of the node, 0 to 10 each, not both 0 (default 5,5)."),
                                  u"L,R"_qs, u"5,5"_qs);
    const QCommandLineOption minCooccurrence(u"min-cooccurrence"_qs, tr("Leave out collocates with fewer co-occurrences (default 2)."), u"N"_qs);
    const QCommandLineOption minFreq(u"min-freq"_qs, tr("Leave out collocates less frequent in the corpus (default 1)."), u"N"_qs);
    const QCommandLineOption measure(u"measure"_qs,
                                     tr("Order by ll (log-likelihood, the default), mi, mi3, t, logdice or freq "
                                        "(co-occurrences), descending; ties by co-occurrences, then the word."),
                                     u"ll|mi|mi3|t|logdice|freq"_qs, u"ll"_qs);
    TableOptions table;
    parser.addOptions({span, minCooccurrence, minFreq, measure});
    table.add(parser);
    const int prepared = c.prepare(arguments, tr("Usage: corvalen collocates [OPTIONS] QUERY PATH..."), u"QUERY"_qs);
    if (prepared >= 0)
        return prepared;
    for (const QCommandLineOption *once : {&span, &minCooccurrence, &minFreq, &measure}) {
        if (parser.values(*once).size() > 1)
            return usageError(u"collocates"_qs, tr("--span, --min-cooccurrence, --min-freq and --measure may be given once."));
    }
    const QString tableError = table.read(parser);
    if (!tableError.isEmpty())
        return usageError(u"collocates"_qs, tableError);
    const std::optional<std::pair<int, int>> lr = pairFrom(parser.value(span), 0, CollocateRequest::kMaxSpan);
    if (!lr || (lr->first == 0 && lr->second == 0))
        return usageError(u"collocates"_qs, tr("--span needs L,R: whole numbers from 0 to %1, not both 0.").arg(CollocateRequest::kMaxSpan));
    const std::optional<qint64> leastCooccurrence = parser.isSet(minCooccurrence) ? countValue(parser.value(minCooccurrence)) : qint64(2);
    const std::optional<qint64> leastFrequency = parser.isSet(minFreq) ? countValue(parser.value(minFreq)) : qint64(1);
    if (!leastCooccurrence || !leastFrequency)
        return usageError(u"collocates"_qs, tr("--min-cooccurrence and --min-freq need a whole number of 0 or more."));
    const std::optional<CollocateMeasure> order = collocateMeasureFromName(parser.value(measure));
    if (!order)
        return usageError(u"collocates"_qs, tr("unknown measure \"%1\" (ll, mi, mi3, t, logdice or freq).").arg(parser.value(measure)));
    if (c.query && !nodeProblem(*c.query).isEmpty())
        return usageError(u"collocates"_qs, nodeProblem(*c.query));
    if (!outputWritable(table.outputPath))
        return Failed;
    CollocateRequest request;
    request.files = c.files;
    request.finder = c.finder;
    request.node = c.queryOrNothing();
    request.left = lr->first;
    request.right = lr->second;
    request.minCooccurrence = *leastCooccurrence;
    request.minFrequency = *leastFrequency;
    CollocateResult found = findCollocates(request);
    const bool unreadable = reportFailures(found.failures, c.files);
    c.noteGivenUpWords();
    const std::vector<CollocateRow> rows =
            selectCollocates(std::move(found.rows), *order, *leastCooccurrence, *leastFrequency, table.topRows);
    const bool kept = !table.outputPath.isEmpty() && nothingRead(found.failures, c.files.size());
    const bool written = kept || writeTableOut(
            table.outputPath, table.tableFormat,
            {u"word"_qs, u"cooccurrence"_qs, u"left"_qs, u"right"_qs, u"frequency"_qs, u"mi"_qs, u"mi3"_qs, u"t"_qs,
             u"ll"_qs, u"logdice"_qs},
            [&](TableWriter &out) {
                for (const CollocateRow &r : rows) {
                    if (!out.row({TableCell::textCell(r.word), TableCell::number(r.cooccurrence), TableCell::number(r.left),
                                  TableCell::number(r.right), TableCell::number(r.frequency),
                                  TableCell::fixed(r.measures.mi, 6), TableCell::fixed(r.measures.mi3, 6),
                                  TableCell::fixed(r.measures.tScore, 6), TableCell::fixed(r.measures.logLikelihood, 6),
                                  TableCell::fixed(r.measures.logDice, 6)}))
                        return false;
                }
                return true;
            });
    writeErr(u" Node occurrences: "_qs + QString::number(found.nodeOccurrences) + u"\n Corpus words: "_qs
             + QString::number(found.corpusWords) + u'\n');
    return written && !unreadable && c.scanNotes.unreadable.isEmpty() ? Success : Failed;
}

// "corvalen clusters": the recurring runs of words around a query.
int runClusters(const QStringList &arguments)
{
    QueryCommand c(u"clusters"_qs);
    c.phrasesCounted = false;
    QCommandLineParser &parser = c.parser;
    parser.setApplicationDescription(
            tr("Writes the clusters of QUERY: runs of consecutive counted words of one paragraph (never "
               "across a paragraph end or a word the rules leave out) that hold an occurrence of QUERY, "
               "each with its count and the number of files it occurs in, most frequent first."));
    const QCommandLineOption size(u"size"_qs, tr("Words of the shortest and the longest cluster, 2 to 5 (default 2,4)."),
                                  u"MIN,MAX"_qs, u"2,4"_qs);
    const QCommandLineOption position(u"position"_qs,
                                      tr("Where a cluster holds QUERY: left (it starts with it), right (ends with "
                                         "it) or any (default)."),
                                      u"left|right|any"_qs, u"any"_qs);
    const QCommandLineOption minCount(u"min-count"_qs, tr("Leave out clusters counted fewer times (default 2)."), u"N"_qs);
    TableOptions table;
    parser.addOptions({size, position, minCount});
    table.add(parser);
    const int prepared = c.prepare(arguments, tr("Usage: corvalen clusters [OPTIONS] QUERY PATH..."), u"QUERY"_qs);
    if (prepared >= 0)
        return prepared;
    for (const QCommandLineOption *once : {&size, &position, &minCount}) {
        if (parser.values(*once).size() > 1)
            return usageError(u"clusters"_qs, tr("--size, --position and --min-count may be given once."));
    }
    const QString tableError = table.read(parser);
    if (!tableError.isEmpty())
        return usageError(u"clusters"_qs, tableError);
    const std::optional<std::pair<int, int>> sizes = pairFrom(parser.value(size), ClusterRequest::kMinSize, ClusterRequest::kMaxSize);
    if (!sizes || sizes->first > sizes->second)
        return usageError(u"clusters"_qs, tr("--size needs MIN,MAX: whole numbers from %1 to %2, MIN not above MAX.")
                                              .arg(ClusterRequest::kMinSize)
                                              .arg(ClusterRequest::kMaxSize));
    const std::optional<ClusterPlace> place = clusterPlaceFromName(parser.value(position));
    if (!place)
        return usageError(u"clusters"_qs, tr("unknown position \"%1\" (left, right or any).").arg(parser.value(position)));
    const std::optional<qint64> leastCount = parser.isSet(minCount) ? countValue(parser.value(minCount)) : qint64(2);
    if (!leastCount)
        return usageError(u"clusters"_qs, tr("--min-count needs a whole number of 0 or more."));
    if (c.query && c.query->length() > sizes->second)
        return usageError(u"clusters"_qs, tr("the query is %1 words: longer than the longest cluster.").arg(c.query->length()));
    if (!outputWritable(table.outputPath))
        return Failed;
    ClusterRequest request;
    request.files = c.files;
    request.finder = c.finder;
    request.query = c.queryOrNothing();
    request.minSize = sizes->first;
    request.maxSize = sizes->second;
    request.place = *place;
    request.minCount = *leastCount;
    ClusterResult found = findClusters(request);
    const bool unreadable = reportFailures(found.failures, c.files);
    c.noteGivenUpWords();
    const std::vector<ClusterRow> rows = selectClusters(std::move(found.rows), *leastCount, table.topRows);
    const bool kept = !table.outputPath.isEmpty() && nothingRead(found.failures, c.files.size());
    const bool written = kept || writeTableOut(table.outputPath, table.tableFormat, {u"cluster"_qs, u"count"_qs, u"files"_qs},
                                       [&](TableWriter &out) {
                                           for (const ClusterRow &r : rows) {
                                               if (!out.row({TableCell::textCell(r.cluster), TableCell::number(r.count),
                                                             TableCell::number(r.files)}))
                                                   return false;
                                           }
                                           return true;
                                       });
    return written && !unreadable && c.scanNotes.unreadable.isEmpty() ? Success : Failed;
}

// A combined count of files as a frequency list.
FrequencyList countedFrequencies(const QStringList &files, const CountOptions &options, ErrorReporter *reporter,
                                 bool *failed)
{
    const WordRules::Paragraphs paragraphs = options.rules.paragraphs;
    PrefetchingSource source(
            files,
            [paragraphs](ErrorReporter *r) {
                auto engine = std::make_unique<DocumentEngine>(r);
                engine->setParagraphs(paragraphs);
                return engine;
            },
            reporter);
    FrequencyList list = countFrequencies(files, options, source, nullptr, reporter);
    if (failed)
        *failed = list.files < files.size();
    return list;
}

// "corvalen keywords": the words key in a corpus against a reference.
int runKeywords(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
            tr("Compares the words of the files and folders given (the target) with a reference: other "
               "files and folders counted with the same options and word rules (--reference), or a word "
               "list as \"corvalen count --combined\" writes it in tsv, csv or json (--reference-list). "
               "Writes the keywords: word, frequency, reference frequency, both per million words, "
               "log-likelihood, log ratio, BIC and p."));
    const QCommandLineOption reference(u"reference"_qs, tr("Files and folders of the reference corpus; may be given several times."),
                                       u"PATH"_qs);
    const QCommandLineOption referenceList(u"reference-list"_qs, tr("A word list as the reference."), u"FILE"_qs);
    const QCommandLineOption ignoreCase(u"ignore-case"_qs, tr("Ignore letter case (default)."));
    const QCommandLineOption keepCase(u"keep-case"_qs, tr("Count words that differ in case apart."));
    const QCommandLineOption cutoff(u"p"_qs,
                                    tr("Keep words whose p is below this: 0.05 (default), 0.01, 0.001, 0.0001, or 1 "
                                       "to keep every word."),
                                    u"P"_qs, u"0.05"_qs);
    const QCommandLineOption bonferroni(u"bonferroni"_qs, tr("Divide the cut-off by the number of distinct words compared."));
    const QCommandLineOption negative(u"negative"_qs, tr("Negative keywords too: words less frequent in the target."));
    const QCommandLineOption minFreq(u"min-freq"_qs,
                                     tr("The least frequency of a keyword in the target (default 1); with "
                                        "--negative, the least of the larger of its frequencies in the target "
                                        "and the reference, so that words absent from the target show."),
                                     u"N"_qs);
    const QCommandLineOption help(QStringList{u"h"_qs, u"help"_qs}, tr("Show this help."));
    TableOptions table;
    parser.addOptions({reference, referenceList, ignoreCase, keepCase});
    addWordRuleOptions(parser);
    parser.addOptions({cutoff, bonferroni, negative, minFreq});
    table.add(parser);
    parser.addOption(help);
    parser.addPositionalArgument(u"PATH"_qs, tr("Files and folders of the target; - reads paths from standard input."),
                                 u"PATH..."_qs);
    const QString command = u"keywords"_qs;
    if (!parser.parse(QStringList{u"corvalen keywords"_qs} + arguments))
        return usageError(command, parser.errorText());
    if (parser.isSet(help))
        return writeCommandHelp(parser, tr("Usage: corvalen keywords --reference PATH | --reference-list FILE [OPTIONS] PATH..."));
    if (parser.isSet(ignoreCase) && parser.isSet(keepCase))
        return usageError(command, tr("--ignore-case and --keep-case cannot be used together."));
    if (parser.isSet(reference) == parser.isSet(referenceList) || parser.values(referenceList).size() > 1)
        return usageError(command, tr("give the reference as --reference PATH (several allowed) or as one --reference-list FILE."));
    for (const QCommandLineOption *once : {&cutoff, &minFreq}) {
        if (parser.values(*once).size() > 1)
            return usageError(command, tr("--p and --min-freq may be given once."));
    }
    const QString tableError = table.read(parser);
    if (!tableError.isEmpty())
        return usageError(command, tableError);
    KeywordFilter filter;
    bool ok = false;
    filter.cutoff = parser.value(cutoff).toDouble(&ok);
    if (!ok || !keywordCutoffs().contains(filter.cutoff))
        return usageError(command, tr("--p needs 0.05, 0.01, 0.001, 0.0001 or 1."));
    filter.bonferroni = parser.isSet(bonferroni);
    filter.negative = parser.isSet(negative);
    if (parser.isSet(minFreq)) {
        const std::optional<qint64> n = countValue(parser.value(minFreq));
        if (!n)
            return usageError(command, tr("--min-freq needs a whole number of 0 or more."));
        filter.minFrequency = *n;
    }
    QString error;
    QStringList notes;
    const std::optional<WordRules> rules = wordRulesFromParser(parser, &error, &notes);
    if (!rules)
        return usageError(command, error);
    for (const QString &note : std::as_const(notes))
        writeErr(u"corvalen keywords: "_qs + note + u'\n');
    const QStringList given = parser.positionalArguments();
    if (given.isEmpty())
        return usageError(command, tr("no PATH given."));
    CountOptions options(CountMode::Combined, false, !parser.isSet(keepCase), *rules);
    options.finder = WordFinder::create(options.rules, options.ignoreCase, &error);
    if (!options.finder) {
        writeErr(u"corvalen keywords: "_qs + error + u'\n');
        return UsageError;
    }
    for (const QString &note : options.finder->notes())
        writeErr(u"corvalen keywords: "_qs + note + u'\n');
    if (!outputWritable(table.outputPath))
        return Failed;
    DropScanNotes scanNotes;
    const QStringList targetFiles = filesOfPaths(given, &scanNotes);
    StderrReporter reporter;
    bool failed = false;
    FrequencyList target, referenceCounts;
    std::optional<FrequencyList> listed;
    QString listError;
    QStringList listNotes;
    if (parser.isSet(referenceList)) {
        // The list is read while the target is counted.
        onTwoThreads([&] { listed = readFrequencyList(parser.value(referenceList), &listError, &listNotes); },
                     [&] { target = countedFrequencies(targetFiles, options, &reporter, &failed); });
        if (!listed) {
            writeErr(listError + u'\n');
            return Failed;
        }
        for (const QString &note : std::as_const(listNotes))
            writeErr(u"corvalen keywords: "_qs + note + u'\n');
        referenceCounts = std::move(*listed);
    } else {
        target = countedFrequencies(targetFiles, options, &reporter, &failed);
        DropScanNotes referenceNotes;
        const QStringList referenceFiles = filesOfPaths(parser.values(reference), &referenceNotes);
        bool referenceFailed = false;
        referenceCounts = countedFrequencies(referenceFiles, options, &reporter, &referenceFailed);
        failed = failed || referenceFailed || !referenceNotes.unreadable.isEmpty();
    }
    const std::vector<KeywordRow> all = compareFrequencies(target, referenceCounts, filter);
    const qsizetype kept = table.topRows >= 0 ? qsizetype(std::min<qint64>(table.topRows, qint64(all.size()))) : qsizetype(all.size());
    // A side of which no file was counted leaves nothing to compare: -o keeps what it holds.
    const bool nothingCounted = target.files == 0 || (!parser.isSet(referenceList) && referenceCounts.files == 0);
    const bool written = (nothingCounted && !table.outputPath.isEmpty()) || writeTableOut(
            table.outputPath, table.tableFormat,
            {u"word"_qs, u"freq"_qs, u"ref_freq"_qs, u"per_million"_qs, u"ref_per_million"_qs, u"ll"_qs,
             u"log_ratio"_qs, u"bic"_qs, u"p"_qs},
            [&](TableWriter &out) {
                for (qsizetype i = 0; i < kept; ++i) {
                    const KeywordRow &r = all[size_t(i)];
                    if (!out.row({TableCell::textCell(r.word), TableCell::number(r.frequency),
                                  TableCell::number(r.referenceFrequency), TableCell::fixed(r.perMillion, 3),
                                  TableCell::fixed(r.referencePerMillion, 3), TableCell::fixed(r.keyness.logLikelihood, 6),
                                  TableCell::fixed(r.keyness.logRatio, 6), TableCell::fixed(r.keyness.bic, 6),
                                  TableCell::probability(r.keyness.p, 5)}))
                        return false;
                }
                return true;
            });
    writeErr(u" Target words: "_qs + QString::number(target.total) + u"\n Reference words: "_qs
             + QString::number(referenceCounts.total) + u"\n Keywords: "_qs + QString::number(kept) + u'\n');
    return written && !failed && !reporter.anyReported() && scanNotes.unreadable.isEmpty() ? Success : Failed;
}

} // namespace

bool isCommandLine(int argc, char *argv[])
{
    if (argc < 2)
        return false;
    for (const char *word : {"count", "context", "dispersion", "collocates", "clusters", "keywords", "-h", "--help", "-help", "-v", "--version", "-version"}) {
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
    installEnglishPlurals(); // "1 form", "2 forms"
    // The arguments exactly as given: Qt's decoding drops a leading U+FEFF and turns bytes that
    // are not UTF-8 (a file name of another system) into U+FFFD, after which no such file exists.
    QStringList arguments;
    for (int i = 2; i <= argc; ++i)
        arguments.append(decodeFileName(QByteArrayView(argv[i - 1], qsizetype(std::strlen(argv[i - 1])))));
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    const std::map<QString, int (*)(const QStringList &)> commands = {
            {u"count"_qs, runCount},           {u"context"_qs, runContext},   {u"dispersion"_qs, runDispersion},
            {u"collocates"_qs, runCollocates}, {u"clusters"_qs, runClusters}, {u"keywords"_qs, runKeywords}};
    if (const auto found = commands.find(command); found != commands.end()) {
        // The counts name a file that ran out of memory themselves; the corpus commands end here.
        try {
            return found->second(arguments);
        } catch (const CorpusOutOfMemory &e) {
            writeErr(u"corvalen "_qs + command + u": "_qs + e.message() + u'\n');
        } catch (const std::bad_alloc &) {
            writeErr(u"corvalen "_qs + command + u": "_qs + tr("Out of memory.") + u'\n');
        } catch (const std::system_error &e) {
            // What the system refused (a thread, a lock), in its own words.
            writeErr(u"corvalen "_qs + command + u": "_qs + QString::fromStdString(e.code().message()) + u".\n"_qs);
        } catch (const std::exception &e) {
            writeErr(u"corvalen "_qs + command + u": "_qs + QString::fromLocal8Bit(e.what()) + u'\n');
        }
        return Failed;
    }
    if (command == u"-v" || command.endsWith(u"version")) {
        writeOut(versionText());
        return Success;
    }
    writeOut(generalHelp());
    return Success;
}

} // namespace corvalen
