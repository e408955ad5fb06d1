#include "corpus/keywords.h"

#include "base/filenames.h"
#include "corpus/collation.h"
#include "corpus/corpusscan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <cmath>
#include <numeric>

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::Keywords", text);
}

// A reference list bigger than this is no word list.
constexpr qint64 kMaxListBytes = qint64(2) << 30;

// The largest count, and total, that the measures (worked out in doubles) hold exactly: 2^53.
constexpr qint64 kMaxExactCount = qint64(1) << 53;

enum class CountFault { None, NoNumber, Decimal, TooLarge };

// A count as a list shows it: digits, maybe padded, maybe grouped in thousands ("1,234",
// "1.234.567", "1 000", "1'000"). A separator that groups no thousands makes it a decimal ("12.5",
// "1,5", "0.500"), which no count is.
CountFault readCount(QStringView text, qint64 &n)
{
    text = text.trimmed();
    n = 0;
    char16_t separator = 0;
    qsizetype group = 0; // digits since the last separator
    bool grouped = true;
    bool any = false;
    bool tooLarge = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (u >= u'0' && u <= u'9') {
            if (n > kMaxExactCount)
                tooLarge = true;
            else
                n = n * 10 + (u - u'0');
            ++group;
            any = true;
        } else if (u == u',' || u == u'.' || u == u'\'' || u == u' ' || u == 0xA0 || u == 0x202F) {
            if (separator == 0)
                grouped = grouped && group >= 1 && group <= 3 && text.at(0) != u'0';
            else
                grouped = grouped && u == separator && group == 3;
            separator = u;
            group = 0;
        } else {
            return CountFault::NoNumber;
        }
    }
    if (!any)
        return CountFault::NoNumber;
    if (separator != 0 && !(grouped && group == 3))
        return text.contains(u'.') || text.contains(u',') ? CountFault::Decimal : CountFault::NoNumber;
    return tooLarge || n > kMaxExactCount ? CountFault::TooLarge : CountFault::None;
}

// Why a count's text cannot be read, for the message naming its line.
QString countFaultText(CountFault fault, QStringView text)
{
    switch (fault) {
    case CountFault::Decimal:
        return tr("\"%1\" is not a whole number, and a count has no decimals").arg(text.trimmed().toString());
    case CountFault::TooLarge:
        return tr("%1 is more than %2, the largest count that is worked out exactly")
                .arg(text.trimmed().toString())
                .arg(kMaxExactCount);
    default:
        return tr("\"%1\" is no count").arg(text.toString());
    }
}

// One field of a tab-separated line: a field that begins with a double quote runs to its closing
// quote (a doubled quote standing for one), so it may hold tabs.
struct TsvField
{
    QStringView text;
    bool quoted = false;

    QString unquoted() const { return quoted ? text.toString().replace(u"\"\""_qs, u"\""_qs) : text.toString(); }
};

// The fields of a tab-separated line. A quote that never closes, or is followed by more than
// padding before the tab, is taken as it stands.
void tsvFields(QStringView line, std::vector<TsvField> &fields)
{
    fields.clear();
    qsizetype at = 0;
    for (;;) {
        if (at < line.size() && line.at(at) == u'"') {
            qsizetype k = at + 1;
            bool closed = false;
            while (k < line.size() && !closed) {
                if (line.at(k) != u'"')
                    ++k;
                else if (k + 1 < line.size() && line.at(k + 1) == u'"')
                    k += 2;
                else
                    closed = true;
            }
            qsizetype after = k + 1;
            while (closed && after < line.size() && line.at(after) == u' ')
                ++after;
            if (closed && (after == line.size() || line.at(after) == u'\t')) {
                fields.push_back({line.sliced(at + 1, k - at - 1), true});
                if (after == line.size())
                    return;
                at = after + 1;
                continue;
            }
        }
        const qsizetype tab = line.indexOf(u'\t', at);
        if (tab < 0) {
            fields.push_back({line.sliced(at), false});
            return;
        }
        fields.push_back({line.sliced(at, tab - at), false});
        at = tab + 1;
    }
}

// The fields of one CSV record from at on (RFC 4180); at moves past its line end. False when the
// record is malformed (a quote not closed).
bool csvRecord(QStringView text, qsizetype &at, QStringList &fields)
{
    fields.clear();
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    while (at < text.size()) {
        const QChar c = text.at(at++);
        if (quoted) {
            if (c == u'"') {
                if (at < text.size() && text.at(at) == u'"') {
                    field += u'"';
                    ++at;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == u'"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == u',') {
            fields.append(field);
            field.clear();
            wasQuoted = false;
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && at < text.size() && text.at(at) == u'\n')
                ++at;
            break;
        } else {
            field += c;
        }
    }
    if (quoted)
        return false;
    fields.append(field);
    return true;
}

} // namespace

FrequencyList countFrequencies(const QStringList &files, const CountOptions &options, TextSource &source,
                               Progress *progress, ErrorReporter *reporter)
{
    CountOptions combined = options; // the same rules and finder; one list of words, no files
    combined.mode = CountMode::Combined;
    combined.withFileName = false;
    combined.fileRange = false;
    FrequencyList list;
    const RunOutcome outcome = runAnalysisRows(
            files, combined, source,
            [&list](CountedRows &&rows, const QString &) {
                QString scratch;
                list.reserve(rows.size(), rows.size() * 8);
                for (size_t i = 0; i < rows.size(); ++i)
                    list.add(rows.word(i, scratch), rows.count(i));
            },
            progress, reporter);
    list.files = outcome.filesCounted();
    return list;
}

std::optional<FrequencyList> parseFrequencyList(const QByteArray &bytes, const QString &name, QString *error,
                                                 QStringList *notes)
{
    const QString shown = QDir::toNativeSeparators(name);
    const auto fail = [&](qint64 line, const QString &why) {
        if (error)
            *error = tr("The word list %1 cannot be read at line %2: %3.").arg(shown).arg(line).arg(why);
        return std::optional<FrequencyList>();
    };
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        if (error)
            *error = tr("The word list %1 is not UTF-8 text.").arg(shown);
        return std::nullopt;
    }
    FrequencyList list;
    // Lines without a word are left out, and said; so is a list that counts nothing, against which
    // nothing can be key.
    qint64 wordless = 0, firstWordless = 0;
    const auto skipWordless = [&](qint64 line) {
        if (wordless++ == 0)
            firstWordless = line;
    };
    // The measures are worked out in doubles: a count or total beyond 2^53 would not be exact (and
    // one beyond 2^63 would wrap round).
    const auto add = [&](QStringView word, qint64 count, qint64 line) {
        if (count > kMaxExactCount - list.total) {
            fail(line, tr("the counts add up to more than %1 here, the largest total that is worked out exactly")
                               .arg(kMaxExactCount));
            return false;
        }
        list.add(word, count);
        return true;
    };
    const auto finish = [&]() -> std::optional<FrequencyList> {
        if (notes) {
            if (wordless == 1)
                notes->append(tr("Line %1 of the word list %2 has no word: it is left out.").arg(firstWordless).arg(shown));
            else if (wordless > 1)
                notes->append(tr("%1 lines of the word list %2 have no word (the first is line %3): they are left out.")
                                      .arg(wordless)
                                      .arg(shown)
                                      .arg(firstWordless));
            if (list.size() == 0)
                notes->append(tr("The word list %1 holds no words: no word can be key against it.").arg(shown));
            else if (list.total == 0)
                notes->append(tr("Every count of the word list %1 is 0: no word can be key against it.").arg(shown));
        }
        return std::move(list);
    };
    const QStringView all(text);
    qsizetype start = 0;
    while (start < all.size() && all.at(start).isSpace())
        ++start;
    if (start < all.size() && all.at(start) == u'[') {
        QJsonParseError parse;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
        if (parse.error != QJsonParseError::NoError)
            return fail(bytes.left(parse.offset).count('\n') + 1, parse.errorString());
        const QJsonArray rows = doc.array();
        for (qsizetype i = 0; i < rows.size(); ++i) {
            // As count writes it: the array's entries one a line after the bracket's.
            const qint64 line = i + 2;
            const QJsonObject o = rows.at(i).toObject();
            const QJsonValue word = o.value(u"word");
            const QJsonValue count = o.value(u"count");
            if (!word.isString() || !count.isDouble() || count.toDouble() < 0)
                return fail(line, tr("entry %1 has no word and whole count").arg(i + 1));
            const double value = count.toDouble();
            if (value != std::floor(value))
                return fail(line, tr("entry %1: %2 is not a whole number, and a count has no decimals").arg(i + 1).arg(value));
            const qint64 n = count.toInteger(-1);
            if (n < 0 || n > kMaxExactCount || value > double(kMaxExactCount))
                return fail(line, tr("entry %1: its count is more than %2, the largest count that is worked out exactly")
                                          .arg(i + 1)
                                          .arg(kMaxExactCount));
            if (word.toString().isEmpty()) {
                skipWordless(line);
                continue;
            }
            if (!add(word.toString(), n, line))
                return std::nullopt;
        }
        return finish();
    }
    // CSV: a first line without a tab that holds fields separated by commas; its count is the
    // field under "count" (or "freq", "frequency") in the header, else the second.
    const qsizetype firstEnd = all.indexOf(u'\n');
    const QStringView firstLine = all.first(firstEnd < 0 ? all.size() : firstEnd);
    QStringList fields;
    if (!firstLine.contains(u'\t')) {
        qsizetype at = 0;
        if (csvRecord(all, at, fields) && fields.size() >= 2) {
            qsizetype wordColumn = 0, countColumn = 1;
            qint64 n = 0;
            const bool header = readCount(fields.at(1), n) == CountFault::NoNumber;
            if (header) {
                qsizetype word = -1;
                for (qsizetype k = 0; k < fields.size() && word < 0; ++k) {
                    if (fields.at(k).trimmed().compare(u"word", Qt::CaseInsensitive) == 0)
                        word = k;
                }
                for (qsizetype k = 0; k < fields.size(); ++k) {
                    const QString name = fields.at(k).trimmed().toLower();
                    if (k != word && (name == u"count" || name == u"freq" || name == u"frequency")) {
                        countColumn = k;
                        break;
                    }
                }
                if (word >= 0 && word != countColumn)
                    wordColumn = word;
            }
            at = header ? at : 0;
            for (qint64 line = header ? 2 : 1; at < all.size(); ++line) {
                if (!csvRecord(all, at, fields))
                    return fail(line, tr("a quoted field does not end"));
                if (fields.size() == 1 && fields.at(0).trimmed().isEmpty())
                    continue; // an empty line
                if (fields.size() <= std::max(wordColumn, countColumn))
                    return fail(line, tr("it has no count"));
                const CountFault fault = readCount(fields.at(countColumn), n);
                if (fault != CountFault::None)
                    return fail(line, countFaultText(fault, fields.at(countColumn)));
                if (fields.at(wordColumn).isEmpty()) {
                    skipWordless(line);
                    continue;
                }
                if (!add(fields.at(wordColumn), n, line))
                    return std::nullopt;
            }
            return finish();
        }
    }
    // Tab-separated: the word, padded (the clipboard's layout), then the count and maybe more
    // columns (the range and dispersion of a count). A word may hold tabs: the count is the column
    // as far from the line's end as in the line that has fewest fields (the last column of a list
    // of words and counts), and the first line is a header when its count is no number. The
    // non-blank lines are gone through twice, for the columns and then for the rows.
    const auto eachLine = [&all](const auto &take) {
        qint64 number = 0;
        for (qsizetype at = 0; at < all.size();) {
            ++number;
            qsizetype end = all.indexOf(u'\n', at);
            if (end < 0)
                end = all.size();
            QStringView row = all.sliced(at, end - at);
            at = end + 1;
            if (row.endsWith(u'\r'))
                row.chop(1);
            if (!row.trimmed().isEmpty() && !take(number, row))
                return false;
        }
        return true;
    };
    std::vector<TsvField> cells;
    qsizetype columns = -1;
    qint64 lines = 0, shortLine = 0;
    eachLine([&](qint64 number, QStringView row) {
        tsvFields(row, cells);
        if (cells.size() < 2) {
            shortLine = number;
            return false;
        }
        if (lines++ > 0)
            columns = columns < 0 ? qsizetype(cells.size()) : std::min(columns, qsizetype(cells.size()));
        return true;
    });
    if (shortLine > 0)
        return fail(shortLine, tr("it has no tab between the word and its count"));
    list.reserve(size_t(lines), size_t(all.size()) / 2);
    QString joined;
    bool first = true;
    qint64 failedAt = 0;
    QString why;
    bool refused = false;
    eachLine([&](qint64 number, QStringView row) {
        const bool header = first && lines > 1;
        first = false;
        tsvFields(row, cells);
        const qsizetype n = qsizetype(cells.size());
        const qsizetype width = columns < 0 ? n : columns;
        const qsizetype countAt = n >= width ? n - width + 1 : 1;
        qint64 count = 0;
        // Quotes doubled inside a count would make no number either way.
        const QStringView countText = cells[size_t(countAt)].text;
        const CountFault fault = readCount(countText, count);
        if (fault == CountFault::NoNumber && header)
            return true; // a header ("word<TAB>freq")
        if (fault != CountFault::None) {
            failedAt = number;
            why = countFaultText(fault, countText);
            return false;
        }
        QStringView word;
        if (countAt == 1 && !cells[0].quoted) {
            word = cells[0].text;
        } else {
            joined.clear();
            for (qsizetype k = 0; k < countAt; ++k) {
                if (k > 0)
                    joined += u'\t';
                joined += cells[size_t(k)].unquoted();
            }
            word = joined;
        }
        if (!cells[size_t(countAt - 1)].quoted) {
            while (word.endsWith(u' ')) // the clipboard's padding
                word.chop(1);
        }
        if (word.isEmpty()) {
            skipWordless(number);
            return true;
        }
        if (add(word, count, number))
            return true;
        refused = true; // add() said why
        return false;
    });
    if (failedAt > 0)
        return fail(failedAt, why);
    if (refused)
        return std::nullopt;
    return finish();
}

std::optional<FrequencyList> readFrequencyList(const QString &path, QString *error, QStringList *notes)
{
    QFile file;
    int systemError = 0;
    const FileStatus status = fileStatus(path);
    if (status.isFolder || (status.exists && status.size > kMaxListBytes) || !openForReading(file, path, &systemError)) {
        if (error) {
            const QString why = status.isFolder ? tr("it is a folder")
                    : status.size > kMaxListBytes ? tr("it is larger than 2 GB")
                    : systemError ? qt_error_string(systemError) : file.errorString();
            *error = tr("The word list %1 could not be read: %2.").arg(QDir::toNativeSeparators(path), why);
        }
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = tr("The word list %1 could not be read: %2.").arg(QDir::toNativeSeparators(path), file.errorString());
        return std::nullopt;
    }
    return parseFrequencyList(bytes, path, error, notes);
}

double chiSquareUpperTail(double x)
{
    return x <= 0 ? 1.0 : std::erfc(std::sqrt(x / 2.0));
}

Keyness keynessOf(qint64 a, qint64 b, qint64 c, qint64 d)
{
    Keyness k;
    if (c <= 0 || d <= 0)
        return k;
    const double A = double(a), B = double(b), C = double(c), D = double(d);
    const double e1 = C * (A + B) / (C + D);
    const double e2 = D * (A + B) / (C + D);
    double ll = 0;
    if (A > 0)
        ll += A * std::log(A / e1);
    if (B > 0)
        ll += B * std::log(B / e2);
    ll = 2.0 * std::abs(ll);
    const bool key = A / C > B / D;
    k.logLikelihood = key ? ll : -ll;
    k.logRatio = std::log2(((A > 0 ? A : 0.5) / C) / ((B > 0 ? B : 0.5) / D));
    k.bic = k.logLikelihood - std::log(C + D);
    k.p = chiSquareUpperTail(ll);
    return k;
}

QList<double> keywordCutoffs()
{
    return {0.05, 0.01, 0.001, 0.0001, 1.0};
}

std::vector<KeywordRow> compareFrequencies(const FrequencyList &target, const FrequencyList &reference,
                                           const KeywordFilter &filter, qint64 *compared)
{
    // The target's words by their hashes, open addressing, the words compared where hashes meet:
    // a reference list of a million words is looked up a word at a time.
    std::vector<std::pair<quint64, quint32>> table(64);
    size_t used = 0;
    const auto findOrAdd = [&](const FrequencyList &list, size_t i, quint64 h, bool add) -> qint64 {
        if (add && (used + 1) * 2 > table.size()) {
            std::vector<std::pair<quint64, quint32>> old(table.size() * 2);
            old.swap(table);
            for (const auto &slot : old) {
                if (slot.second == 0)
                    continue;
                size_t k = slot.first & (table.size() - 1);
                while (table[k].second != 0)
                    k = (k + 1) & (table.size() - 1);
                table[k] = slot;
            }
        }
        for (size_t k = h & (table.size() - 1);; k = (k + 1) & (table.size() - 1)) {
            if (table[k].second == 0) {
                if (!add)
                    return -1;
                table[k] = {h, quint32(i + 1)};
                ++used;
                return qint64(i);
            }
            if (table[k].first == h && target.word(table[k].second - 1) == list.word(i))
                return table[k].second - 1;
        }
    };
    std::vector<qint64> a(target.size(), 0), b(target.size(), 0);
    std::vector<size_t> targetRows;
    for (size_t i = 0; i < target.size(); ++i) {
        const qint64 at = findOrAdd(target, i, wordHash(target.word(i)), true);
        if (size_t(at) == i)
            targetRows.push_back(i);
        a[size_t(at)] += target.count(i); // a list may name a word twice: its counts add up
    }
    // The reference's words not in the target, by hash too, for their number and, when the least
    // target frequency is 0, their rows.
    std::vector<std::pair<quint64, size_t>> onlyReference;
    for (size_t j = 0; j < reference.size(); ++j) {
        const quint64 h = wordHash(reference.word(j));
        const qint64 at = findOrAdd(reference, j, h, false);
        if (at >= 0)
            b[size_t(at)] += reference.count(j);
        else
            onlyReference.push_back({h, j});
    }
    std::vector<size_t> onlyReferenceRows;
    std::vector<qint64> onlyReferenceCounts;
    qint64 distinct = qint64(targetRows.size());
    // With negative keywords the least frequency is asked of the larger of the two frequencies:
    // the words absent from the target are the strongest negative keywords.
    const bool referenceOnlyKept = filter.minFrequency <= 0 || filter.negative;
    if (!referenceOnlyKept && !filter.bonferroni && !compared) {
        // None of them can be kept, and their number is not asked for.
    } else if (!referenceOnlyKept) {
        // None of them can be kept: only their number counts (for Bonferroni), as distinct hashes.
        std::vector<quint64> hashes(onlyReference.size());
        for (size_t k = 0; k < onlyReference.size(); ++k)
            hashes[k] = onlyReference[k].first;
        std::sort(hashes.begin(), hashes.end());
        distinct += std::unique(hashes.begin(), hashes.end()) - hashes.begin();
    } else {
        // Ties of hash are put side by side and told apart by their words.
        std::sort(onlyReference.begin(), onlyReference.end(), [&](const auto &x, const auto &y) {
            if (x.first != y.first)
                return x.first < y.first;
            return reference.word(x.second) < reference.word(y.second);
        });
        for (size_t k = 0; k < onlyReference.size(); ++k) {
            const size_t j = onlyReference[k].second;
            if (k > 0 && onlyReference[k - 1].first == onlyReference[k].first
                && reference.word(onlyReference[k - 1].second) == reference.word(j)) {
                onlyReferenceCounts.back() += reference.count(j);
                continue;
            }
            onlyReferenceRows.push_back(j);
            onlyReferenceCounts.push_back(reference.count(j));
        }
        distinct += qint64(onlyReferenceRows.size());
    }
    if (compared)
        *compared = distinct;
    const double threshold = filter.bonferroni && distinct > 0 ? filter.cutoff / double(distinct) : filter.cutoff;
    const qint64 c = target.total, d = reference.total;
    std::vector<KeywordRow> rows;
    const auto consider = [&](QStringView word, qint64 fa, qint64 fb) {
        if ((filter.negative ? std::max(fa, fb) : fa) < filter.minFrequency)
            return;
        const Keyness k = keynessOf(fa, fb, c, d);
        if (filter.cutoff < 1.0 && !(k.p < threshold))
            return;
        if (!(k.logLikelihood > 0) && !filter.negative)
            return;
        KeywordRow row;
        row.word = word.toString();
        row.frequency = fa;
        row.referenceFrequency = fb;
        row.perMillion = c > 0 ? double(fa) / double(c) * 1e6 : 0.0;
        row.referencePerMillion = d > 0 ? double(fb) / double(d) * 1e6 : 0.0;
        row.keyness = k;
        rows.push_back(std::move(row));
    };
    for (const size_t i : targetRows)
        consider(target.word(i), a[i], b[i]);
    for (size_t r = 0; r < onlyReferenceRows.size(); ++r)
        consider(reference.word(onlyReferenceRows[r]), 0, onlyReferenceCounts[r]);
    sortThenCollate(
            rows,
            [](const KeywordRow &x, const KeywordRow &y) { return x.keyness.logLikelihood > y.keyness.logLikelihood; },
            [](const KeywordRow &r) { return r.word; });
    return rows;
}

} // namespace corvalen
