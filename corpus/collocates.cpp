#include "corpus/collocates.h"

#include "corpus/collation.h"
#include "corpus/perthread.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::Collocates", text);
}

// What one worker counts, by word number.
struct Tallies
{
    std::vector<quint64> frequency;
    std::vector<quint64> left;
    std::vector<quint64> right;
    qint64 nodes = 0;

    void fit(quint32 id)
    {
        if (id < frequency.size())
            return;
        const size_t size = std::max<size_t>(size_t(id) + 1, frequency.size() * 3 / 2 + 1024);
        frequency.resize(size, 0);
        left.resize(size, 0);
        right.resize(size, 0);
    }
};

// The windows of a slice's nodes that run past its ends: how many words before its first word,
// and after its last, each of them still takes (the slices next to it in its file hold them).
struct Edges
{
    std::vector<int> before;
    std::vector<int> after;
};

double xLogX(double o, double e)
{
    return o > 0 && e > 0 ? o * std::log(o / e) : 0.0;
}

} // namespace

Association associationOf(qint64 o, qint64 fc, qint64 fn, qint64 n, int k)
{
    Association a;
    if (o <= 0 || n <= 0 || fn <= 0 || fc <= 0 || k <= 0)
        return a;
    const double O = double(o), Fc = double(fc), Fn = double(fn), N = double(n), K = double(k);
    a.expected = Fn * Fc * K / N;
    a.mi = std::log2(O / a.expected);
    a.mi3 = std::log2(O * O * O / a.expected);
    a.tScore = (O - a.expected) / std::sqrt(O);
    a.logDice = 14.0 + std::log2(2.0 * O / (Fn + Fc));
    const double o11 = std::max(0.0, O);
    const double o12 = std::max(0.0, Fn * K - O);
    const double o21 = std::max(0.0, Fc - O);
    const double o22 = std::max(0.0, N - Fn * K - Fc + O);
    const double r1 = o11 + o12, r2 = o21 + o22, c1 = o11 + o21, c2 = o12 + o22;
    const double total = r1 + r2;
    if (total > 0) {
        const double e11 = r1 * c1 / total, e12 = r1 * c2 / total, e21 = r2 * c1 / total, e22 = r2 * c2 / total;
        const double ll = 2.0 * (xLogX(o11, e11) + xLogX(o12, e12) + xLogX(o21, e21) + xLogX(o22, e22));
        a.logLikelihood = o11 < e11 ? -std::abs(ll) : std::abs(ll);
    }
    return a;
}

QString nodeProblem(const CorpusQuery &query)
{
    if (query.length() > 1)
        return tr("the node is one word, not a phrase of %1.").arg(query.length());
    return QString();
}

CollocateResult findCollocates(const CollocateRequest &request, const std::atomic<bool> *stop, Progress *progress)
{
    CollocateResult result;
    const int spanLeft = std::clamp(request.left, 0, CollocateRequest::kMaxSpan);
    const int spanRight = std::clamp(request.right, 0, CollocateRequest::kMaxSpan);
    CorpusScanOptions options;
    options.files = request.files;
    options.finder = request.finder;
    options.margin = 1;
    options.cutAtSpaces = true; // windows run across paragraph ends: any cut is filled in order
    options.numberWords = true;
    options.makeMarker = [&request] { return std::make_unique<QueryMatcher>(request.node, *request.finder); };
    CorpusScan scan(options);
    const bool nothing = request.node.matchesNothing() || request.node.length() != 1;

    PerThread<Tallies> tallies([] { return std::make_unique<Tallies>(); });
    const CorpusScan::Work work = [&](CorpusSlice &slice) {
        Tallies &t = tallies.local();
        Edges edges;
        const std::vector<CorpusToken> &tokens = slice.tokens;
        const qsizetype n = qsizetype(tokens.size());
        for (qsizetype i = 0; i < n; ++i) {
            const CorpusToken &token = tokens[size_t(i)];
            t.fit(token.id);
            ++t.frequency[token.id];
            if (nothing || !(token.mark & 1))
                continue;
            ++t.nodes;
            for (int d = 1; d <= spanLeft && i - d >= 0; ++d) {
                const quint32 id = tokens[size_t(i - d)].id;
                t.fit(id);
                ++t.left[id];
            }
            if (i < spanLeft)
                edges.before.push_back(spanLeft - int(i));
            for (int d = 1; d <= spanRight && i + d < n; ++d) {
                const quint32 id = tokens[size_t(i + d)].id;
                t.fit(id);
                ++t.right[id];
            }
            if (n - 1 - i < spanRight)
                edges.after.push_back(spanRight - int(n - 1 - i));
        }
        slice.result = std::move(edges);
    };

    // In order: the windows across the slices' edges, within each file.
    Tallies across;
    qint32 file = -1;
    std::deque<quint32> lastWords; // the file's last words so far, most recent last
    std::vector<int> waiting;      // words still taken after the slices so far, one a node
    const CorpusScan::InOrder inOrder = [&](CorpusSlice &slice) {
        if (slice.file != file) {
            file = slice.file;
            lastWords.clear();
            waiting.clear();
        }
        if (slice.failed) {
            result.failures.emplace_back(slice.file, slice.failure);
            return;
        }
        const std::vector<CorpusToken> &tokens = slice.tokens;
        // Each waiting node takes the first words of this slice: the ones its window still reaches.
        std::vector<int> still;
        for (const int need : waiting) {
            const int taken = int(std::min<size_t>(size_t(need), tokens.size()));
            for (int k = 0; k < taken; ++k) {
                const quint32 id = tokens[size_t(k)].id;
                across.fit(id);
                ++across.right[id];
            }
            if (need > taken)
                still.push_back(need - taken);
        }
        waiting = std::move(still);
        if (slice.result.has_value()) {
            const Edges &edges = *std::any_cast<Edges>(&slice.result);
            for (const int need : edges.before) {
                const int taken = int(std::min<size_t>(size_t(need), lastWords.size()));
                for (int k = 0; k < taken; ++k) {
                    const quint32 id = lastWords[lastWords.size() - 1 - size_t(k)];
                    across.fit(id);
                    ++across.left[id];
                }
            }
            waiting.insert(waiting.end(), edges.after.begin(), edges.after.end());
        }
        const size_t keep = size_t(spanLeft);
        for (size_t k = tokens.size() > keep ? tokens.size() - keep : 0; k < tokens.size(); ++k) {
            lastWords.push_back(tokens[k].id);
            if (lastWords.size() > keep)
                lastWords.pop_front();
        }
    };
    result.complete = scan.run(work, inOrder, stop, progress);

    // Every worker's tallies added up.
    const quint32 words = scan.vocabulary().size();
    Tallies all;
    if (words > 0)
        all.fit(words - 1);
    const auto add = [&](const Tallies &t) {
        for (size_t id = 0; id < t.frequency.size() && id < all.frequency.size(); ++id) {
            all.frequency[id] += t.frequency[id];
            all.left[id] += t.left[id];
            all.right[id] += t.right[id];
        }
        all.nodes += t.nodes;
    };
    for (const auto &t : tallies.all())
        add(*t);
    add(across);
    result.nodeOccurrences = all.nodes;
    result.corpusWords = qint64(std::accumulate(all.frequency.begin(), all.frequency.end(), quint64(0)));

    // With word forms grouped a collocate is a group: its forms' tallies added up, shown by its
    // lemma, or by the most frequent form of its stem (of equal ones, the first by UTF-16 code
    // units).
    const QStringList vocabulary = scan.vocabulary().words();
    std::vector<qint32> groupOf(vocabulary.size());
    std::iota(groupOf.begin(), groupOf.end(), 0);
    std::vector<CollocateRow> rows(vocabulary.size());
    if (request.finder->groupsWords()) {
        std::unique_ptr<WordFinder> finder = request.finder->clone();
        const bool byLemma = finder->groupsByLemma();
        QHash<QString, qint32> groups;
        for (qsizetype id = 0; id < vocabulary.size(); ++id) {
            const QString key = finder->groupKey(vocabulary.at(id));
            const auto it = groups.constFind(key);
            if (it == groups.cend()) {
                groups.insert(key, qint32(id));
                if (byLemma)
                    rows[size_t(id)].word = key;
                continue;
            }
            const qint32 head = *it;
            groupOf[size_t(id)] = head;
        }
    }
    const bool shownByKey = request.finder->groupsByLemma();
    std::vector<quint64> shownFrequency(vocabulary.size(), 0);
    for (qsizetype id = 0; id < vocabulary.size(); ++id) {
        CollocateRow &row = rows[size_t(groupOf[size_t(id)])];
        row.left += qint64(all.left[size_t(id)]);
        row.right += qint64(all.right[size_t(id)]);
        row.frequency += qint64(all.frequency[size_t(id)]);
        if (shownByKey)
            continue;
        const quint64 f = all.frequency[size_t(id)];
        quint64 &best = shownFrequency[size_t(groupOf[size_t(id)])];
        if (row.word.isNull() || f > best || (f == best && vocabulary.at(id) < row.word)) {
            row.word = vocabulary.at(id);
            best = f;
        }
    }
    const int span = spanLeft + spanRight;
    for (qsizetype id = 0; id < vocabulary.size(); ++id) {
        if (groupOf[size_t(id)] != qint32(id))
            continue;
        CollocateRow &row = rows[size_t(id)];
        row.cooccurrence = row.left + row.right;
        if (row.cooccurrence == 0)
            continue;
        row.measures = associationOf(row.cooccurrence, row.frequency, result.nodeOccurrences, result.corpusWords, span);
        result.rows.push_back(std::move(row));
    }
    return result;
}

QStringList collocateMeasureNames()
{
    return {u"ll"_qs, u"mi"_qs, u"mi3"_qs, u"t"_qs, u"logdice"_qs, u"freq"_qs};
}

std::optional<CollocateMeasure> collocateMeasureFromName(const QString &name)
{
    const qsizetype i = collocateMeasureNames().indexOf(name.toLower());
    if (i < 0)
        return std::nullopt;
    return CollocateMeasure(i);
}

double measureOf(const CollocateRow &row, CollocateMeasure measure)
{
    switch (measure) {
    case CollocateMeasure::LogLikelihood:
        return row.measures.logLikelihood;
    case CollocateMeasure::MI:
        return row.measures.mi;
    case CollocateMeasure::MI3:
        return row.measures.mi3;
    case CollocateMeasure::TScore:
        return row.measures.tScore;
    case CollocateMeasure::LogDice:
        return row.measures.logDice;
    case CollocateMeasure::Frequency:
        return double(row.cooccurrence);
    }
    return 0;
}

std::vector<CollocateRow> selectCollocates(std::vector<CollocateRow> rows, CollocateMeasure measure,
                                           qint64 minCooccurrence, qint64 minFrequency, qint64 top)
{
    std::erase_if(rows, [&](const CollocateRow &r) {
        return r.cooccurrence < minCooccurrence || r.frequency < minFrequency;
    });
    sortThenCollate(
            rows,
            [measure](const CollocateRow &a, const CollocateRow &b) {
                const double ma = measureOf(a, measure), mb = measureOf(b, measure);
                if (ma != mb)
                    return ma > mb;
                return a.cooccurrence > b.cooccurrence;
            },
            [](const CollocateRow &r) { return r.word; }, top);
    return rows;
}

} // namespace corvalen
