#include "cli/commands.h"

#include "base/figures.h"
#include "base/safefile.h"
#include "cli/commandtools.h"
#include "cli/prefetchingsource.h"
#include "cli/rowspill.h"
#include "cli/wordruleoptions.h"
#include "corpus/lexicalvariety.h"
#include "corpus/tableoutput.h"
#include "corpus/worddispersion.h"
#include "documents/documentengine.h"
#include "engine/analysisrun.h"
#include "results/resultlayouts.h"
#include "results/roworder.h"
#include "results/spreadsheetlayout.h"
#include "results/wordliststatistics.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>

#include <array>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define CORVALEN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define CORVALEN_ISATTY(fd) isatty(fd)
#endif

namespace corvalen {

namespace {

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

} // namespace

// "corvalen count": the words of files counted, one row per distinct word.
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

} // namespace corvalen
