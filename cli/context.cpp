#include "cli/commands.h"

#include "base/safefile.h"
#include "cli/commandtools.h"
#include "corpus/concordance.h"
#include "engine/twohalves.h"
#include "engine/utf8.h"

#include <QDir>

#include <array>
#include <atomic>
#include <cstring>

namespace corvalen {

namespace {

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

} // namespace

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

} // namespace corvalen
