#include "cli/commands.h"

#include "cli/commandtools.h"
#include "cli/prefetchingsource.h"
#include "cli/wordruleoptions.h"
#include "corpus/keywords.h"
#include "documents/documentengine.h"
#include "engine/analysisrun.h"
#include "engine/twohalves.h"

namespace corvalen {

namespace {

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

} // namespace

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

} // namespace corvalen
