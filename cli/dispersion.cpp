#include "cli/commands.h"

#include "cli/commandtools.h"
#include "base/safefile.h"
#include "corpus/concordance.h"
#include "corpus/dispersion.h"

#include <QDir>

namespace corvalen {

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

} // namespace corvalen
