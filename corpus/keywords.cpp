#include "corpus/keywords.h"

#include "base/filenames.h"
#include "corpus/collation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <cmath>
#include <numeric>
#include <unordered_map>

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
        list.add(word.toString(), *count);
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
    struct ViewHash
    {
        size_t operator()(std::u16string_view v) const { return std::hash<std::u16string_view>()(v); }
    };
    const auto view = [](const QString &s) {
        return std::u16string_view(reinterpret_cast<const char16_t *>(s.utf16()), size_t(s.size()));
    };
    std::unordered_map<std::u16string_view, size_t, ViewHash> inTarget;
    inTarget.reserve(target.size());
    std::vector<qint64> a(target.size(), 0);
    for (size_t i = 0; i < target.size(); ++i) {
        const auto [it, fresh] = inTarget.emplace(view(target.words[i]), i);
        a[it->second] += target.counts[i]; // a list may name a word twice: its counts add up
    }
    std::vector<qint64> b(target.size(), 0);
    std::unordered_map<std::u16string_view, size_t, ViewHash> onlyReference;
    std::vector<size_t> onlyReferenceRows;
    std::vector<qint64> onlyReferenceCounts;
    for (size_t j = 0; j < reference.size(); ++j) {
        const auto it = inTarget.find(view(reference.words[j]));
        if (it != inTarget.end()) {
            b[it->second] += reference.counts[j];
            continue;
        }
        const auto [r, fresh] = onlyReference.emplace(view(reference.words[j]), onlyReferenceRows.size());
        if (fresh) {
            onlyReferenceRows.push_back(j);
            onlyReferenceCounts.push_back(0);
        }
        onlyReferenceCounts[r->second] += reference.counts[j];
    }
    const qint64 distinct = qint64(inTarget.size() + onlyReferenceRows.size());
    if (compared)
        *compared = distinct;
    const double threshold = filter.bonferroni && distinct > 0 ? filter.cutoff / double(distinct) : filter.cutoff;
    const qint64 c = target.total, d = reference.total;
    std::vector<KeywordRow> rows;
    const auto consider = [&](const QString &word, qint64 fa, qint64 fb) {
        if (fa < filter.minFrequency)
            return;
        const Keyness k = keynessOf(fa, fb, c, d);
        if (filter.cutoff < 1.0 && !(k.p < threshold))
            return;
        if (!(k.logLikelihood > 0) && !filter.negative)
            return;
        KeywordRow row;
        row.word = word;
        row.frequency = fa;
        row.referenceFrequency = fb;
        row.perMillion = c > 0 ? double(fa) / double(c) * 1e6 : 0.0;
        row.referencePerMillion = d > 0 ? double(fb) / double(d) * 1e6 : 0.0;
        row.keyness = k;
        rows.push_back(std::move(row));
    };
    for (const auto &[word, i] : inTarget)
        consider(target.words[i], a[i], b[i]);
    for (size_t r = 0; r < onlyReferenceRows.size(); ++r)
        consider(reference.words[onlyReferenceRows[r]], 0, onlyReferenceCounts[r]);
    sortThenCollate(
            rows,
            [](const KeywordRow &x, const KeywordRow &y) { return x.keyness.logLikelihood > y.keyness.logLikelihood; },
            [](const KeywordRow &r) { return r.word; });
    return rows;
}

} // namespace corvalen
