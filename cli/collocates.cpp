#include "cli/commands.h"

#include "cli/commandtools.h"
#include "corpus/collocates.h"

namespace corvalen {

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

} // namespace corvalen
