#pragma once

// What the commands share: output, usage errors, error reports, the files of the paths given,
// the query of the query commands and the options of their tables.

#include "base/errorreport.h"
#include "corpus/corpusquery.h"
#include "corpus/tableoutput.h"
#include "filelist/folderscan.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace corvalen {

class WordFinder;

enum ExitStatus { Success = 0, Failed = 1, UsageError = 2 };

// The commands' texts, all in one translation context.
QString tr(const char *text);
// Writes to standard error or standard output at once, in UTF-8.
void writeErr(const QString &text);
void writeOut(const QString &text);
// "Corvalen VERSION" and a line end, as --version writes it.
QString versionText();

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

// A whole number of at least 0 for an option, or nullopt.
std::optional<qint64> countValue(const QString &text);

// The files of the paths given on the command line ("-" reads more paths from standard input,
// once), folders scanned as a drop scans them; but nothing they hold is left out unsaid: each
// folder that could not be read, or holds no files, is named on standard error.
QStringList filesOfPaths(const QStringList &given, DropScanNotes *notes);

// A command's --help: its usage line, then Qt's text of its options.
int writeCommandHelp(const QCommandLineParser &parser, const QString &usage);

// Says message as a usage error of command (its word: "count", "collocates" ...) and how to get
// its help; returns the exit status of a usage error.
int usageError(const QString &command, const QString &message);

// A target that cannot be written is named before anything is read; false then.
bool outputWritable(const QString &path);

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
    int prepare(const QStringList &arguments, const QString &usage, const QString &queryName);

    // Names the counted words on which the pattern engine gave up (they were taken as not
    // matching), after the search.
    void noteGivenUpWords() const;

    // The query, or one that never matches where it failed to parse: the files are still read
    // for their words.
    CorpusQuery queryOrNothing() const;
};

// Writes a table to -o FILE (through the checked write routine) or standard output; false, the
// failure named on standard error, when it could not be written.
bool writeTableOut(const QString &outputPath, TableFormat format, const QStringList &columns,
                   const std::function<bool(TableWriter &table)> &rows);

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
    QString read(const QCommandLineParser &parser);
};

// "L,R" of two whole numbers from lowest to highest.
std::optional<std::pair<int, int>> pairFrom(const QString &text, int lowest, int highest);

// Names the files a corpus command could not read; whether there were any.
bool reportFailures(const std::vector<std::pair<qint32, QString>> &failures, const QStringList &files);

// Whether no file could be read (or none was given): then, as with count, nothing was found and
// -o keeps what it holds.
bool nothingRead(const std::vector<std::pair<qint32, QString>> &failures, qsizetype files);

} // namespace corvalen
