#include "corpus/collocates.h"

#include "corpus/collation.h"
#include "engine/hashtally.h"

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

// The co-occurrences of each word met near a node, by word number: open addressing, so that a
// node with few occurrences costs a few entries, whatever the corpus's vocabulary.
class Cooccurrences
{
public:
    struct Entry
    {
        quint32 id = kFree;
        quint64 left = 0;
        quint64 right = 0;
    };
    static constexpr quint32 kFree = 0xFFFFFFFF;

    Cooccurrences() : m_slots(64) { }
    Entry &of(quint32 id)
    {
        if ((m_used + 1) * 2 > m_slots.size())
            grow();
        for (size_t i = slotOf(id);; i = (i + 1) & (m_slots.size() - 1)) {
            Entry &e = m_slots[i];
            if (e.id == id)
                return e;
            if (e.id == kFree) {
                e.id = id;
                ++m_used;
                return e;
            }
        }
    }
    template<typename F>
    void forEach(F &&f) const
    {
        for (const Entry &e : m_slots) {
            if (e.id != kFree)
                f(e);
        }
    }

private:
    size_t slotOf(quint32 id) const { return size_t(counting::mix(id)) & (m_slots.size() - 1); }
    void grow()
    {
        std::vector<Entry> old(m_slots.size() * 2);
        old.swap(m_slots);
        for (const Entry &e : old) {
            if (e.id == kFree)
                continue;
            size_t i = slotOf(e.id);
            while (m_slots[i].id != kFree)
                i = (i + 1) & (m_slots.size() - 1);
            m_slots[i] = e;
        }
    }
    std::vector<Entry> m_slots;
    size_t m_used = 0;
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

    // The workers find and number the words; they are counted here, in order, each file's words
    // one stream: a word's frequency, and for the words within a node's span, its co-occurrences.
    std::vector<quint64> frequency; // by word number
    Cooccurrences near;
    qint32 file = -1;
    std::deque<quint32> lastWords; // the file's last words, most recent last: left of the next node
    std::deque<int> open;          // the nodes whose right span is still open: the words it still takes
    const CorpusScan::Work work = [](CorpusSlice &) {};
    const CorpusScan::InOrder inOrder = [&](CorpusSlice &slice) {
        if (slice.file != file) {
            file = slice.file;
            lastWords.clear();
            open.clear();
        }
        if (slice.failed) {
            result.failures.emplace_back(slice.file, slice.failure);
            return;
        }
        for (const CorpusToken &token : slice.tokens) {
            const quint32 id = token.id;
            if (id >= frequency.size())
                frequency.resize(std::max<size_t>(size_t(id) + 1, frequency.size() * 3 / 2 + 1024), 0);
            ++frequency[id];
            for (int &still : open) {
                ++near.of(id).right;
                --still;
            }
            while (!open.empty() && open.front() == 0)
                open.pop_front();
            if (!nothing && (token.mark & 1)) {
                ++result.nodeOccurrences;
                for (const quint32 before : lastWords)
                    ++near.of(before).left;
                if (spanRight > 0)
                    open.push_back(spanRight);
            }
            if (spanLeft > 0) {
                if (lastWords.size() == size_t(spanLeft))
                    lastWords.pop_front();
                lastWords.push_back(id);
            }
        }
    };
    result.complete = scan.run(work, inOrder, stop, progress);
    result.corpusWords = qint64(std::accumulate(frequency.begin(), frequency.end(), quint64(0)));
    const CorpusVocabulary &vocabulary = scan.vocabulary();
    const int span = spanLeft + spanRight;
    // A row whose figures pass the minimums is kept, with its measures.
    const auto passes = [&](CollocateRow &row) {
        row.cooccurrence = row.left + row.right;
        return row.cooccurrence > 0 && row.cooccurrence >= request.minCooccurrence && row.frequency >= request.minFrequency;
    };
    const auto keep = [&](CollocateRow &row) {
        row.measures = associationOf(row.cooccurrence, row.frequency, result.nodeOccurrences, result.corpusWords, span);
        result.rows.push_back(std::move(row));
    };
    if (!request.finder->groupsWords()) {
        // A row for each word met near a node, spelled out once it is kept.
        near.forEach([&](const Cooccurrences::Entry &e) {
            CollocateRow row;
            row.left = qint64(e.left);
            row.right = qint64(e.right);
            row.frequency = qint64(frequency[e.id]);
            if (!passes(row))
                return;
            row.word = vocabulary.word(e.id);
            keep(row);
        });
        return result;
    }

    // With word forms grouped a collocate is a group: its forms' tallies added up, shown by its
    // lemma, or by the most frequent form of its stem (of equal ones, the first by UTF-16 code
    // units), which may be a form never met near a node: every form's group is looked up.
    std::unique_ptr<WordFinder> finder = request.finder->clone();
    const quint32 words = vocabulary.size();
    std::vector<qint32> groupOf(words); // the number of the group's first form
    {
        QHash<QString, qint32> groups;
        for (quint32 id = 0; id < words; ++id) {
            const QString key = finder->groupKey(vocabulary.word(id));
            const auto known = groups.constFind(key);
            groupOf[id] = known == groups.cend() ? *groups.insert(key, qint32(id)) : *known;
        }
    }
    QHash<qint32, CollocateRow> rows; // the groups met near a node
    near.forEach([&](const Cooccurrences::Entry &e) {
        CollocateRow &row = rows[groupOf[e.id]];
        row.left += qint64(e.left);
        row.right += qint64(e.right);
    });
    struct Shown
    {
        quint32 form;
        quint64 frequency;
    };
    QHash<qint32, Shown> shown;
    for (quint32 id = 0; id < words; ++id) {
        const auto row = rows.find(groupOf[id]);
        if (row == rows.end())
            continue;
        const quint64 f = id < frequency.size() ? frequency[id] : 0;
        row->frequency += qint64(f);
        const auto best = shown.find(groupOf[id]);
        if (best == shown.end())
            shown.insert(groupOf[id], {id, f});
        else if (f > best->frequency || (f == best->frequency && vocabulary.word(id) < vocabulary.word(best->form)))
            *best = {id, f};
    }
    const bool byLemma = finder->groupsByLemma();
    for (auto it = rows.begin(); it != rows.end(); ++it) {
        if (!passes(*it))
            continue;
        it->word = byLemma ? finder->groupKey(vocabulary.word(quint32(it.key())))
                           : vocabulary.word(shown.value(it.key()).form);
        keep(*it);
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
