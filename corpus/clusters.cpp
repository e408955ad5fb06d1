#include "corpus/clusters.h"

#include "corpus/collation.h"
#include "corpus/perthread.h"
#include "engine/hashtally.h"
#include "engine/twohalves.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <numeric>
#include <stdexcept>

namespace corvalen {

namespace {

// A cluster as the numbers of its words, five of 24 bits and its length in one 128-bit key.
constexpr int kIdBits = 24;
constexpr quint32 kMaxId = (quint32(1) << kIdBits) - 1;

struct Key
{
    quint64 low = 0;
    quint64 high = 0;
    bool operator==(const Key &) const = default;
};

Key keyOf(const quint32 *ids, int length)
{
    quint64 bits[2] = {0, 0};
    for (int k = 0; k < length; ++k) {
        const int at = k * kIdBits;
        const quint64 id = ids[k];
        bits[at / 64] |= id << (at % 64);
        if (at % 64 + kIdBits > 64)
            bits[at / 64 + 1] |= id >> (64 - at % 64);
    }
    bits[1] |= quint64(length) << 60; // above the five numbers' 120 bits
    return {bits[0], bits[1]};
}

quint32 idAt(const Key &key, int k)
{
    const quint64 bits[2] = {key.low, key.high};
    const int at = k * kIdBits;
    quint64 id = bits[at / 64] >> (at % 64);
    if (at % 64 + kIdBits > 64)
        id |= bits[at / 64 + 1] << (64 - at % 64);
    return quint32(id & kMaxId);
}

quint64 hashOf(const Key &key)
{
    return counting::mix(key.low * 0x9E3779B97F4A7C15ULL ^ counting::mix(key.high));
}

// The hashes of keys in open addressing, looked up once for every candidate: half the room of
// the keys, so more of it stays in the cache. Two keys of one hash are taken for each other; that
// only lets a candidate through to be counted, never changes a count.
class KeySet
{
public:
    void assign(const std::vector<Key> &keys)
    {
        size_t size = 64;
        while (size < keys.size() * 2)
            size *= 2;
        m_slots.assign(size, 0);
        for (const Key &k : keys) {
            const quint64 h = hashOf(k) | 1; // 0 marks an empty slot
            size_t i = h & (size - 1);
            while (m_slots[i] != 0 && m_slots[i] != h)
                i = (i + 1) & (size - 1);
            m_slots[i] = h;
        }
    }
    bool contains(const Key &key) const
    {
        if (m_slots.empty())
            return false;
        const quint64 h = hashOf(key) | 1;
        for (size_t i = h & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
            if (m_slots[i] == h)
                return true;
            if (m_slots[i] == 0)
                return false;
        }
    }

private:
    std::vector<quint64> m_slots;
};

// One occurrence of a cluster, and the file it lies in.
struct Candidate
{
    Key key;
    qint32 file;
};

struct ClusterCount
{
    Key key;
    quint32 count;
    quint32 files;
};

// Sorts candidates by their keys, of which the low `bits` are used, 16 bits a pass from the lowest
// (least significant digit first): equal keys keep their order.
void sortByKey(std::vector<Candidate> &c, int bits)
{
    std::vector<Candidate> spare(c.size());
    std::vector<size_t> counts(size_t(1) << 16);
    for (int shift = 0; shift < bits; shift += 16) {
        const auto digit = [shift](const Candidate &x) {
            const quint64 part = shift < 64 ? x.key.low >> shift : x.key.high >> (shift - 64);
            quint64 d = part;
            if (shift < 64 && shift + 16 > 64)
                d |= x.key.high << (64 - shift);
            return size_t(d & 0xFFFF);
        };
        std::fill(counts.begin(), counts.end(), 0);
        for (const Candidate &x : c)
            ++counts[digit(x)];
        size_t sum = 0;
        for (size_t &n : counts) {
            const size_t here = n;
            n = sum;
            sum += here;
        }
        for (const Candidate &x : c)
            spare[counts[digit(x)]++] = x;
        c.swap(spare);
    }
}

// A hit with the words around it that a cluster holding it may take: those of its run (no gap
// between them) up to the longest cluster's reach on each side.
constexpr int kWindow = 2 * (ClusterRequest::kMaxSize - 1) + 1;
struct HitWindow
{
    qint64 position = 0; // the hit's first word among its file's words
    qint32 file = 0;
    quint8 before = 0;   // words of the window before the hit
    quint8 size = 0;     // words of the window in all
    quint32 ids[kWindow + ClusterRequest::kMaxSize];
};

// What a worker keeps: with word forms grouped, the group of each word number it met and the
// forms' frequencies, and a finder of its own for the groups' keys.
struct WorkerState
{
    std::unique_ptr<WordFinder> finder;
    std::vector<quint32> groupOf; // word number -> group number + 1
    std::vector<quint64> frequency;
};

} // namespace

std::optional<ClusterPlace> clusterPlaceFromName(const QString &name)
{
    if (name == u"left")
        return ClusterPlace::Left;
    if (name == u"right")
        return ClusterPlace::Right;
    if (name == u"any" || name == u"anywhere")
        return ClusterPlace::Anywhere;
    return std::nullopt;
}

ClusterResult findClusters(const ClusterRequest &request, const std::atomic<bool> *stop, Progress *progress)
{
    ClusterResult result;
    const int minSize = std::clamp(request.minSize, ClusterRequest::kMinSize, ClusterRequest::kMaxSize);
    const int maxSize = std::clamp(request.maxSize, minSize, ClusterRequest::kMaxSize);
    const int length = int(request.query.length());
    const int reach = maxSize - length; // words a cluster may take on either side of its hit
    const bool grouped = request.finder->groupsWords();
    CorpusScanOptions options;
    options.files = request.files;
    options.finder = request.finder;
    options.margin = 1;
    options.cutAtSpaces = false; // a cluster never runs across a paragraph end: nor does a slice
    options.numberWords = true;
    options.makeMarker = [&request] { return std::make_unique<QueryMatcher>(request.query, *request.finder); };
    CorpusScan scan(options);
    // The groups of word forms, numbered as their keys are met.
    CorpusVocabulary groups;

    PerThread<WorkerState> workers([&] {
        auto state = std::make_unique<WorkerState>();
        state->finder = request.finder->clone();
        return state;
    });
    // The scan keeps each hit with the words of its run around it; the clusters are counted
    // afterwards, size by size.
    const CorpusScan::Work work = [&](CorpusSlice &slice) {
        std::vector<HitWindow> out;
        const std::vector<CorpusToken> &tokens = slice.tokens;
        const qsizetype n = qsizetype(tokens.size());
        if (request.query.matchesNothing() || length > maxSize || n == 0) {
            slice.result = std::move(out);
            return;
        }
        std::vector<qsizetype> hits;
        findQueryHits(tokens, length, hits);
        if (hits.empty() && !grouped) {
            slice.result = std::move(out);
            return;
        }
        WorkerState &state = workers.local();
        const auto idOf = [&](qsizetype i) {
            quint32 id = tokens[size_t(i)].id;
            if (grouped) {
                if (state.groupOf[id] == 0) {
                    const QString key = state.finder->groupKey(scan.vocabulary().word(id));
                    std::vector<char16_t> text(key.utf16(), key.utf16() + key.size());
                    text.resize(text.size() + counting::kSlack, 0);
                    state.groupOf[id] = groups.idOf(text.data(), size_t(key.size())) + 1;
                }
                id = state.groupOf[id] - 1;
            }
            if (id > kMaxId)
                throw std::length_error("Too many distinct words for clusters.");
            return id;
        };
        if (grouped) {
            // The forms' frequencies, for the form each group is shown by.
            for (const CorpusToken &t : tokens) {
                if (t.id >= state.groupOf.size()) {
                    state.groupOf.resize(size_t(t.id) + 1 + state.groupOf.size() / 2, 0);
                    state.frequency.resize(state.groupOf.size(), 0);
                }
                ++state.frequency[t.id];
            }
        }
        out.reserve(hits.size());
        for (const qsizetype h : hits) {
            HitWindow w;
            w.position = h;
            w.file = slice.file;
            qsizetype from = h;
            while (from > 0 && h - from < reach && !tokens[size_t(from)].gapBefore)
                --from;
            qsizetype to = h + length - 1;
            while (to + 1 < n && to - (h + length - 1) < reach && !tokens[size_t(to + 1)].gapBefore)
                ++to;
            w.before = quint8(h - from);
            w.size = quint8(to - from + 1);
            for (qsizetype i = from; i <= to; ++i)
                w.ids[i - from] = idOf(i);
            out.push_back(w);
        }
        slice.result = std::move(out);
    };

    std::vector<HitWindow> windows;
    qint32 file = -1;
    qint64 wordsBefore = 0;
    const CorpusScan::InOrder inOrder = [&](CorpusSlice &slice) {
        if (slice.file != file) {
            file = slice.file;
            wordsBefore = 0;
        }
        if (slice.failed) {
            result.failures.emplace_back(slice.file, slice.failure);
            return;
        }
        if (slice.result.has_value()) {
            for (HitWindow &w : *std::any_cast<std::vector<HitWindow>>(&slice.result)) {
                w.position += wordsBefore;
                windows.push_back(w);
            }
        }
        wordsBefore += qint64(slice.tokens.size());
    };
    result.complete = scan.run(work, inOrder, stop, progress);

    // Size by size, shortest first: a longer cluster can occur no more often than the shorter one
    // it holds (itself less its word at one end, the hit kept), so it is a candidate only where
    // that one reached the count wanted. A size's candidates are sorted by their words, on two
    // threads (half of them each, by hash), and counted in runs; they come in text order, and the
    // sort keeps it among equal clusters, so a new file in a run is a file not met before.
    const int shortest = std::max(minSize, length);
    const bool prune = request.minCount > 1;
    std::vector<ClusterCount> counted;
    KeySet frequent; // the clusters of the size before that reached minCount
    for (int size = shortest; size <= maxSize && !windows.empty(); ++size) {
        // The windows of [from, to), their candidates in two parts by hash; the few hits before
        // `from` are looked at again only for the runs they began (each counts once).
        const auto candidatesOf = [&](size_t from, size_t to, std::vector<Candidate> (&parts)[2]) {
            qint64 nextStart = 0;
            qint32 lastFile = -1;
            for (size_t i = from >= 8 ? from - 8 : 0; i < to; ++i) {
                const HitWindow &w = windows[i];
                if (w.file != lastFile) {
                    lastFile = w.file;
                    nextStart = 0;
                }
                const qint64 windowStart = w.position - w.before;
                const qint64 windowEnd = windowStart + w.size - 1;
                qint64 first = w.position + length - size, last = w.position; // where a cluster holding the hit may start
                if (request.place == ClusterPlace::Left)
                    first = w.position;
                else if (request.place == ClusterPlace::Right)
                    last = first;
                // Each run counts once, however many hits it holds.
                first = std::max({first, windowStart, nextStart});
                last = std::min(last, windowEnd - size + 1);
                for (qint64 s = first; s <= last && i >= from; ++s) {
                    const quint32 *ids = w.ids + (s - windowStart);
                    if (prune && size > shortest) {
                        // The shorter cluster that keeps the hit: this one less its last word, or
                        // less its first when the hit ends it.
                        const bool dropLast = s + size - 1 > w.position + length - 1;
                        if (!frequent.contains(keyOf(dropLast ? ids : ids + 1, size - 1)))
                            continue;
                    }
                    const Key key = keyOf(ids, size);
                    parts[hashOf(key) >> 63].push_back({key, w.file});
                }
                nextStart = std::max(nextStart, last + 1);
            }
        };
        std::vector<Candidate> halves[2][2];
        inTwoHalves(windows.size(), [&](size_t from, size_t to) { candidatesOf(from, to, halves[from == 0 ? 0 : 1]); });
        std::vector<Candidate> candidates[2];
        for (int part = 0; part < 2; ++part) {
            candidates[part] = std::move(halves[0][part]);
            candidates[part].insert(candidates[part].end(), halves[1][part].begin(), halves[1][part].end());
            halves[1][part] = {};
        }
        std::vector<ClusterCount> found[2];
        eachHalf(candidates[0].size() + candidates[1].size(), [&](size_t part) {
            std::vector<Candidate> &c = candidates[part];
            sortByKey(c, size * kIdBits);
            for (size_t at = 0; at < c.size();) {
                size_t end = at;
                quint32 files = 0;
                qint32 fileSeen = -1;
                while (end < c.size() && c[end].key == c[at].key) {
                    if (c[end].file != fileSeen) {
                        fileSeen = c[end].file;
                        ++files;
                    }
                    ++end;
                }
                if (qint64(end - at) >= request.minCount)
                    found[part].push_back({c[at].key, quint32(end - at), files});
                at = end;
            }
            c = {};
        });
        std::vector<Key> reached;
        for (const std::vector<ClusterCount> &part : found) {
            for (const ClusterCount &cc : part) {
                counted.push_back(cc);
                reached.push_back(cc.key);
            }
        }
        if (prune)
            frequent.assign(reached);
    }
    windows = {};

    // The words of the clusters: as counted, each group's lemma, or each stem's most frequent form.
    QStringList words = scan.vocabulary().words();
    if (grouped && request.finder->groupsByLemma()) {
        words = groups.words();
    } else if (grouped) {
        const QStringList keys = groups.words();
        std::vector<quint64> frequency(size_t(words.size()), 0);
        std::vector<quint32> groupOf(size_t(words.size()), 0);
        for (const auto &state : workers.all()) {
            for (size_t id = 0; id < state->frequency.size() && id < frequency.size(); ++id) {
                frequency[id] += state->frequency[id];
                if (state->groupOf[id])
                    groupOf[id] = state->groupOf[id];
            }
        }
        QStringList shown(keys.size());
        std::vector<quint64> best(size_t(keys.size()), 0);
        for (qsizetype id = 0; id < words.size(); ++id) {
            const quint32 g = groupOf[size_t(id)];
            if (g == 0)
                continue;
            QString &form = shown[qsizetype(g - 1)];
            const quint64 f = frequency[size_t(id)];
            if (form.isNull() || f > best[g - 1] || (f == best[g - 1] && words.at(id) < form)) {
                form = words.at(id);
                best[g - 1] = f;
            }
        }
        words = shown;
    }
    for (const ClusterCount &cc : counted) {
        ClusterRow row;
        const int size = int((cc.key.high >> 60) & 7);
        for (int k = 0; k < size; ++k) {
            if (k > 0)
                row.cluster += u' ';
            row.cluster += words.value(qsizetype(idAt(cc.key, k)));
        }
        row.count = cc.count;
        row.files = cc.files;
        result.rows.push_back(std::move(row));
    }
    return result;
}

std::vector<ClusterRow> selectClusters(std::vector<ClusterRow> rows, qint64 minCount, qint64 top)
{
    std::erase_if(rows, [&](const ClusterRow &r) { return r.count < minCount; });
    sortThenCollate(
            rows, [](const ClusterRow &a, const ClusterRow &b) { return a.count > b.count; },
            [](const ClusterRow &r) { return r.cluster; }, top);
    return rows;
}

} // namespace corvalen
