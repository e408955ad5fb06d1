#include "cli/commandtools.h"

#include "base/filenames.h"
#include "base/safefile.h"
#include "cli/wordruleoptions.h"
#include "engine/wordrules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>

namespace corvalen {

namespace {

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

// A whole number from lowest to highest, or nullopt.
std::optional<qint64> numberFrom(const QString &text, qint64 lowest, qint64 highest)
{
    const std::optional<qint64> n = countValue(text.trimmed());
    return n && *n >= lowest && *n <= highest ? n : std::nullopt;
}

} // namespace

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

QString versionText()
{
    return QStringLiteral("Corvalen " CORVALEN_VERSION "\n");
}

std::optional<qint64> countValue(const QString &text)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok && n >= 0 ? std::optional<qint64>(n) : std::nullopt;
}

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

int writeCommandHelp(const QCommandLineParser &parser, const QString &usage)
{
    QString text = parser.helpText();
    text = text.mid(text.indexOf(u'\n') + 1); // Qt's usage line names the executable's path
    writeOut(usage + u"\n\n"_qs + text);
    return Success;
}

int usageError(const QString &command, const QString &message)
{
    writeErr(u"corvalen "_qs + command + u": "_qs + message + u'\n'
             + tr("Try 'corvalen %1 --help'.").arg(command) + u'\n');
    return UsageError;
}

bool outputWritable(const QString &path)
{
    QString error;
    if (path.isEmpty() || canWriteFileSafely(path, &error))
        return true;
    writeErr(error + u'\n');
    return false;
}

int QueryCommand::prepare(const QStringList &arguments, const QString &usage, const QString &queryName)
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

void QueryCommand::noteGivenUpWords() const
{
    const QString note = query ? query->givenUpNote() : QString();
    if (!note.isEmpty())
        writeErr(u"corvalen "_qs + command + u": "_qs + note + u".\n"_qs);
}

CorpusQuery QueryCommand::queryOrNothing() const
{
    return query ? *query : *CorpusQuery::parse(u"\x01"_qs, QueryMode::Words, true, *finder);
}

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

QString TableOptions::read(const QCommandLineParser &parser)
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

bool reportFailures(const std::vector<std::pair<qint32, QString>> &failures, const QStringList &files)
{
    for (const auto &[file, why] : failures)
        writeErr((why.isEmpty() ? tr("%1 could not be read.").arg(QDir::toNativeSeparators(files.value(file))) : why) + u'\n');
    return !failures.empty();
}

bool nothingRead(const std::vector<std::pair<qint32, QString>> &failures, qsizetype files)
{
    std::vector<qint32> failed;
    for (const auto &[file, why] : failures)
        failed.push_back(file);
    std::sort(failed.begin(), failed.end());
    return qsizetype(std::unique(failed.begin(), failed.end()) - failed.begin()) >= files;
}

} // namespace corvalen
