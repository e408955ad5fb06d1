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

// A count as a list shows it: digits, maybe padded, maybe grouped in thousands.
std::optional<qint64> countOf(QStringView text)
{
    qint64 n = 0;
    bool any = false;
    for (const QChar c : text.trimmed()) {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9') {
            if (n > (std::numeric_limits<qint64>::max() - 9) / 10)
                return std::nullopt;
            n = n * 10 + (u - u'0');
            any = true;
        } else if (!(u == u',' || u == u'.' || u == u'\'' || u == u' ' || u == 0xA0 || u == 0x202F)) {
            return std::nullopt;
        }
    }
    return any ? std::optional<qint64>(n) : std::nullopt;
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

std::optional<FrequencyList> parseFrequencyList(const QByteArray &bytes, const QString &name, QString *error)
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
            const QJsonObject o = rows.at(i).toObject();
            const QJsonValue word = o.value(u"word");
            const QJsonValue count = o.value(u"count");
            if (!word.isString() || !count.isDouble() || count.toDouble() < 0 || count.toDouble() != std::floor(count.toDouble()))
                return fail(i + 2, tr("entry %1 has no word and whole count").arg(i + 1));
            list.add(word.toString(), qint64(count.toDouble()));
        }
        return list;
    }
    // The header of CSV names the columns; tab-separated rows have none.
    const qsizetype firstEnd = all.indexOf(u'\n');
    const QStringView firstLine = all.first(firstEnd < 0 ? all.size() : firstEnd).trimmed();
    if (firstLine.startsWith(u"word,count")) {
        qsizetype at = firstEnd < 0 ? all.size() : firstEnd + 1;
        QStringList fields;
        for (qint64 line = 2; at < all.size(); ++line) {
            if (!csvRecord(all, at, fields))
                return fail(line, tr("a quoted field does not end"));
            if (fields.size() == 1 && fields.at(0).isEmpty())
                continue; // an empty line
            if (fields.size() < 2)
                return fail(line, tr("it has no count"));
            const std::optional<qint64> count = countOf(fields.at(1));
            if (!count)
                return fail(line, tr("\"%1\" is no count").arg(fields.at(1)));
            list.add(fields.at(0), *count);
        }
        return list;
    }
    qint64 line = 0;
    for (qsizetype at = 0; at < all.size();) {
        ++line;
        qsizetype end = all.indexOf(u'\n', at);
        if (end < 0)
            end = all.size();
        QStringView row = all.sliced(at, end - at);
        at = end + 1;
        if (row.endsWith(u'\r'))
            row.chop(1);
        if (row.trimmed().isEmpty())
            continue;
        const qsizetype tab = row.indexOf(u'\t');
        if (tab < 0)
            return fail(line, tr("it has no tab between the word and its count"));
        QStringView word = row.first(tab);
        while (word.endsWith(u' ')) // the clipboard's padding
            word.chop(1);
        QStringView rest = row.sliced(tab + 1);
        const qsizetype next = rest.indexOf(u'\t');
        const QStringView countText = next < 0 ? rest : rest.first(next);
        const std::optional<qint64> count = countOf(countText);
        if (word.isEmpty() || !count)
            return fail(line, word.isEmpty() ? tr("it has no word") : tr("\"%1\" is no count").arg(countText.toString()));
        list.add(word, *count);
    }
    return list;
}

std::optional<FrequencyList> readFrequencyList(const QString &path, QString *error)
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
    return parseFrequencyList(bytes, path, error);
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
    if (filter.minFrequency > 0 && !filter.bonferroni && !compared) {
        // None of them can be kept, and their number is not asked for.
    } else if (filter.minFrequency > 0) {
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
        if (fa < filter.minFrequency)
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
