#include "cli/commands.h"

#include "cli/commandtools.h"
#include "corpus/clusters.h"

namespace corvalen {

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

} // namespace corvalen
