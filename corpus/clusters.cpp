#include "corpus/clusters.h"

#include "corpus/collation.h"
#include "corpus/perthread.h"
#include "engine/hashtally.h"
#include "engine/twohalves.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <bit>
#include <numeric>

namespace corvalen {

namespace {

// A cluster as the numbers of its words, each of `bits` bits (as many as the largest number
// needs, up to 32), packed from the lowest bit of five 32-bit words.
struct Key
{
    std::array<quint32, ClusterRequest::kMaxSize> w{};
    bool operator==(const Key &) const = default;
};

Key keyOf(const quint32 *ids, int length, int bits)
{
    Key key;
    for (int k = 0; k < length; ++k) {
        const int at = k * bits;
        const quint64 shifted = quint64(ids[k]) << (at % 32);
        key.w[size_t(at / 32)] |= quint32(shifted);
        if (at % 32 + bits > 32)
            key.w[size_t(at / 32 + 1)] |= quint32(shifted >> 32);
    }
    return key;
}

quint32 idAt(const Key &key, int k, int bits)
{
    const int at = k * bits;
    quint64 id = key.w[size_t(at / 32)] >> (at % 32);
    if (at % 32 + bits > 32)
        id |= quint64(key.w[size_t(at / 32 + 1)]) << (32 - at % 32);
    return quint32(id & ((quint64(1) << bits) - 1));
}

quint64 hashOf(const Key &key)
{
    const quint64 low = key.w[0] | (quint64(key.w[1]) << 32);
    const quint64 high = key.w[2] | (quint64(key.w[3]) << 32);
    return counting::mix(low * 0x9E3779B97F4A7C15ULL ^ counting::mix(high ^ (quint64(key.w[4]) * 0xC2B2AE3D27D4EB4FULL)));
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
    int size;
};

// The candidates a part of a size's counting holds at most, about: 4 million take 96 MB, and as
// much again while they are sorted.
constexpr size_t kPartCandidates = size_t(4) << 20;

// Sorts candidates by their keys, of which the low `bits` are used, 16 bits a pass from the lowest
// (least significant digit first): equal keys keep their order. A 16-bit digit never straddles two
// of the key's 32-bit words.
void sortByKey(std::vector<Candidate> &c, int bits)
{
    std::vector<Candidate> spare(c.size());
    std::vector<size_t> counts(size_t(1) << 16);
    for (int shift = 0; shift < bits; shift += 16) {
        const auto digit = [shift](const Candidate &x) { return size_t((x.key.w[size_t(shift / 32)] >> (shift % 32)) & 0xFFFF); };
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

// The words kept around the hits: stretches of consecutive counted words of a file (pieces), each
// word with its number (or its group's) and whether a gap lies before it, and the hits as places
// in the pieces, in text order. A piece holds every word a cluster holding one of its hits may
// take, so the words between the hits, which may be a whole corpus, are kept only once.
struct Piece
{
    qint64 position = 0; // of its first word among its file's words
    size_t begin = 0;    // of its first word in the words kept
    size_t size = 0;
    qint32 file = 0;
};
struct Hit
{
    quint32 piece;
    quint32 at; // of its first word in the piece
};
struct Kept
{
    std::vector<quint32> words;
    std::vector<quint8> gaps;
    std::vector<Piece> pieces;
    std::vector<Hit> hits;

    // Adds the window [from, to] of a hit at `hit` of a stretch of text whose words wordAt() and
    // gapAt() give, position `base` of the file being its index 0; the window joins the last
    // piece where it overlaps or follows it.
    template<typename WordAt, typename GapAt>
    void add(qint32 file, qint64 base, qint64 from, qint64 hit, qint64 to, const WordAt &wordAt, const GapAt &gapAt)
    {
        Piece *last = pieces.empty() ? nullptr : &pieces.back();
        qint64 keptTo = -1; // the stretch's last index the last piece holds
        if (last && last->file == file)
            keptTo = last->position + qint64(last->size) - 1 - base;
        if (!last || last->file != file || from > keptTo + 1) {
            pieces.push_back({base + from, words.size(), 0, file});
            last = &pieces.back();
            keptTo = from - 1;
        }
        for (qint64 i = keptTo + 1; i <= to; ++i) {
            words.push_back(wordAt(i));
            gaps.push_back(gapAt(i));
            ++last->size;
        }
        hits.push_back({quint32(pieces.size() - 1), quint32(base + hit - last->position)});
    }

    void append(const Kept &other, qint64 shift)
    {
        const size_t wordsBefore = words.size();
        const quint32 piecesBefore = quint32(pieces.size());
        words.insert(words.end(), other.words.begin(), other.words.end());
        gaps.insert(gaps.end(), other.gaps.begin(), other.gaps.end());
        for (Piece p : other.pieces) {
            p.position += shift;
            p.begin += wordsBefore;
            pieces.push_back(p);
        }
        for (Hit h : other.hits) {
            h.piece += piecesBefore;
            hits.push_back(h);
        }
    }
};

// The window of a hit at `hit` (length words): the words of its run (no gap between them) up to
// `reach` on each side, within [first, last].
template<typename GapAt>
std::pair<qint64, qint64> windowOf(qint64 hit, int length, int reach, qint64 first, qint64 last, const GapAt &gapAt)
{
    qint64 from = hit;
    while (from > first && hit - from < reach && !gapAt(from))
        --from;
    qint64 to = hit + length - 1;
    while (to < last && to - (hit + length - 1) < reach && !gapAt(to + 1))
        ++to;
    return {from, to};
}

// The place of a hit in a slice of n words that its worker takes, the window whole inside the
// slice: [reach, n - length - reach]. The ordered pass takes the others, with the words of the
// slices around.
bool workerTakes(qint64 hit, qint64 n, int length, int reach)
{
    return hit >= reach && hit + length - 1 + reach <= n - 1;
}

// Turns word numbers into the numbers of their groups of forms (the rules' group keys), numbered
// in groups as they are met; a cache of its own per thread.
class GroupNumbers
{
public:
    GroupNumbers(const WordFinder &finder, const CorpusVocabulary &words, CorpusVocabulary &groups)
        : m_finder(finder.clone()), m_words(words), m_groups(groups)
    {
    }
    quint32 of(quint32 id)
    {
        if (id >= m_groupOf.size())
            m_groupOf.resize(size_t(id) + 1 + m_groupOf.size() / 2, 0);
        if (m_groupOf[id] == 0) {
            const QString key = m_finder->groupKey(m_words.word(id));
            std::vector<char16_t> text(key.utf16(), key.utf16() + key.size());
            text.resize(text.size() + counting::kSlack, 0);
            m_groupOf[id] = m_groups.idOf(text.data(), size_t(key.size())) + 1;
        }
        return m_groupOf[id] - 1;
    }
    const std::vector<quint32> &groupOf() const { return m_groupOf; } // word number -> group + 1

private:
    std::unique_ptr<WordFinder> m_finder;
    const CorpusVocabulary &m_words;
    CorpusVocabulary &m_groups;
    std::vector<quint32> m_groupOf;
};

// What a worker keeps: with word forms grouped, the groups of the words it met and the forms'
// frequencies.
struct WorkerState
{
    std::unique_ptr<GroupNumbers> groups;
    std::vector<quint64> frequency;
};

// A word of the slices before, kept in order for the hits near their ends.
struct SeamWord
{
    quint32 word;
    quint32 mark;
    bool gap;
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
    const bool nothing = request.query.matchesNothing() || length > maxSize;
    CorpusScanOptions options;
    options.files = request.files;
    options.finder = request.finder;
    options.margin = 1;
    // A cluster never runs across a paragraph end; a line of any length is cut at spaces (the
    // hits near a cut are taken in order, with the words on both sides). A phrase could lie
    // across such a cut: its slices end at paragraph ends.
    options.cutAtSpaces = length == 1;
    // The words of the hits' windows alone are numbered (those a cluster may take); with word
    // forms grouped, every word, for the most frequent form of each group.
    options.numberWords = grouped;
    options.hashWords = !grouped;
    options.makeMarker = [&request] { return std::make_unique<QueryMatcher>(request.query, *request.finder); };
    CorpusScan scan(options);
    // The groups of word forms, numbered as their keys are met.
    CorpusVocabulary groups;
    CorpusVocabulary &words = *scan.sharedVocabulary();
    PerThread<WordNumbers> workerNumbers([&] { return std::make_unique<WordNumbers>(*request.finder, words); });

    PerThread<WorkerState> workers([&] {
        auto state = std::make_unique<WorkerState>();
        if (grouped)
            state->groups = std::make_unique<GroupNumbers>(*request.finder, scan.vocabulary(), groups);
        return state;
    });
    // The scan keeps each hit with the words around it that its clusters may take; the clusters
    // are counted afterwards, size by size.
    const CorpusScan::Work work = [&](CorpusSlice &slice) {
        Kept kept;
        const std::vector<CorpusToken> &tokens = slice.tokens;
        const qint64 n = qint64(tokens.size());
        if (grouped) {
            // The forms' frequencies, for the form each group is shown by.
            WorkerState &state = workers.local();
            for (const CorpusToken &t : tokens) {
                if (t.id >= state.frequency.size())
                    state.frequency.resize(size_t(t.id) + 1 + state.frequency.size() / 2, 0);
                ++state.frequency[t.id];
            }
        }
        std::vector<qsizetype> hits;
        if (!nothing)
            findQueryHits(tokens, length, hits);
        std::erase_if(hits, [&](qsizetype h) { return !workerTakes(h, n, length, reach); });
        if (hits.empty()) {
            slice.result = std::move(kept);
            return;
        }
        GroupNumbers *groupNumbers = grouped ? workers.local().groups.get() : nullptr;
        WordNumbers *numbers = grouped ? nullptr : &workerNumbers.local();
        const auto wordAt = [&](qint64 i) {
            const CorpusToken &t = tokens[size_t(i)];
            return groupNumbers ? groupNumbers->of(t.id) : numbers->of(slice, t);
        };
        const auto gapAt = [&](qint64 i) { return quint8(tokens[size_t(i)].gapBefore); };
        for (const qsizetype h : hits) {
            const auto [from, to] = windowOf(h, length, reach, 0, n - 1, gapAt);
            kept.add(slice.file, 0, from, h, to, wordAt, gapAt);
        }
        slice.result = std::move(kept);
    };

    // In order: each slice's hits after those of the slices before, and the hits near the slices'
    // ends, which the worker of neither slice could take whole, taken here with the words on both
    // sides of the cut.
    Kept all;
    qint32 file = -1;
    qint64 wordsBefore = 0;   // the file's words in the slices before
    std::vector<SeamWord> seam; // the file's words from seamStart on, of the slices before
    qint64 seamStart = 0;
    qint64 doneUpTo = 0;      // every hit of the file that begins before this is kept
    std::unique_ptr<GroupNumbers> seamGroups;
    if (grouped)
        seamGroups = std::make_unique<GroupNumbers>(*request.finder, scan.vocabulary(), groups);
    WordNumbers seamNumbers(*request.finder, words);
    const CorpusScan::InOrder inOrder = [&](CorpusSlice &slice) {
        if (slice.file != file) {
            file = slice.file;
            wordsBefore = 0;
            seam.clear();
            seamStart = 0;
            doneUpTo = 0;
        }
        if (slice.failed) {
            result.failures.emplace_back(slice.file, slice.failure);
            return;
        }
        const std::vector<CorpusToken> &tokens = slice.tokens;
        const qint64 o = wordsBefore, n = qint64(tokens.size()), end = o + n;
        // The words of the slices before (seam) and of this one, by their places in the file.
        const auto markAt = [&](qint64 g) { return g < o ? seam[size_t(g - seamStart)].mark : tokens[size_t(g - o)].mark; };
        const auto gapAt = [&](qint64 g) {
            return quint8(g < o ? seam[size_t(g - seamStart)].gap : tokens[size_t(g - o)].gapBefore);
        };
        const auto wordAt = [&](qint64 g) {
            if (g < o)
                return seam[size_t(g - seamStart)].word;
            const CorpusToken &t = tokens[size_t(g - o)];
            return seamGroups ? seamGroups->of(t.id) : seamNumbers.of(slice, t);
        };
        const auto takeHitsUpTo = [&](qint64 last) {
            for (qint64 g = doneUpTo; g <= last && !nothing; ++g) {
                bool hit = true;
                for (int k = 0; k < length && hit; ++k)
                    hit = ((markAt(g + k) >> k) & 1) && (k == 0 || !gapAt(g + k));
                if (!hit)
                    continue;
                const auto [from, to] = windowOf(g, length, reach, seamStart, end - 1, gapAt);
                all.add(file, 0, from, g, to, wordAt, gapAt);
            }
            doneUpTo = std::max(doneUpTo, last + 1);
        };
        // A hit is taken here once the words its window may take are all known.
        const qint64 known = slice.lastOfFile ? end - length : end - length - reach;
        const bool workerTook = n - length - reach >= reach; // workerTakes() holds for some place
        if (workerTook) {
            takeHitsUpTo(std::min(known, o + reach - 1));
            if (slice.result.has_value())
                all.append(*std::any_cast<Kept>(&slice.result), o);
            doneUpTo = o + n - length - reach + 1;
        }
        takeHitsUpTo(known);
        // The words that hits not yet taken may need: from reach words before the first of them.
        const qint64 keepFrom = std::max<qint64>(seamStart, doneUpTo - reach);
        std::vector<SeamWord> kept;
        for (qint64 g = std::max(keepFrom, o); g < end && !slice.lastOfFile; ++g)
            kept.push_back({wordAt(g), markAt(g), gapAt(g) != 0});
        if (keepFrom < o && !slice.lastOfFile)
            kept.insert(kept.begin(), seam.begin() + (keepFrom - seamStart), seam.end());
        seam = std::move(kept);
        seamStart = slice.lastOfFile ? end : keepFrom;
        wordsBefore = end;
    };
    result.complete = scan.run(work, inOrder, stop, progress);
    const quint32 distinct = grouped ? groups.size() : words.size();
    const int bits = std::max(1, int(std::bit_width(distinct > 0 ? distinct - 1 : 0u)));

    // Size by size, shortest first: a longer cluster can occur no more often than the shorter one
    // it holds (itself less its word at one end, the hit kept), so it is a candidate only where
    // that one reached the count wanted. A size's candidates are counted in parts by their
    // hashes, two parts at a time on two threads, so that the memory of a part's candidates is
    // all the counting holds however many hits there are: each part's candidates are made from
    // the hits in text order, sorted by their words, and counted in runs; the sort keeps text
    // order among equal clusters, so a new file in a run is a file not met before.
    const int shortest = std::max(minSize, length);
    const bool prune = request.minCount > 1;
    std::vector<ClusterCount> counted;
    KeySet frequent; // the clusters of the size before that reached minCount
    for (int size = shortest; size <= maxSize && !all.hits.empty(); ++size) {
        // The candidates of one part: part of `parts`, by the top bits of their hashes.
        const auto countPart = [&](size_t part, int partBits, std::vector<ClusterCount> &found) {
            std::vector<Candidate> c;
            qint64 nextStart = 0;
            qint32 lastFile = -1;
            for (const Hit &hit : all.hits) {
                const Piece &piece = all.pieces[hit.piece];
                const qint64 at = hit.at;
                if (piece.file != lastFile) {
                    lastFile = piece.file;
                    nextStart = 0;
                }
                const auto gapAt = [&](qint64 k) { return all.gaps[piece.begin + size_t(k)] != 0; };
                const auto [windowFrom, windowTo] = windowOf(at, length, reach, 0, qint64(piece.size) - 1, gapAt);
                const qint64 position = piece.position + at;
                const qint64 windowStart = piece.position + windowFrom;
                const qint64 windowEnd = piece.position + windowTo;
                qint64 first = position + length - size, last = position; // where a cluster holding the hit may start
                if (request.place == ClusterPlace::Left)
                    first = position;
                else if (request.place == ClusterPlace::Right)
                    last = first;
                // Each run counts once, however many hits it holds.
                first = std::max({first, windowStart, nextStart});
                last = std::min(last, windowEnd - size + 1);
                for (qint64 s = first; s <= last; ++s) {
                    const quint32 *ids = all.words.data() + piece.begin + size_t(s - piece.position);
                    const Key key = keyOf(ids, size, bits);
                    if (partBits > 0 && (hashOf(key) >> (64 - partBits)) != part)
                        continue;
                    if (prune && size > shortest) {
                        // The shorter cluster that keeps the hit: this one less its last word, or
                        // less its first when the hit ends it.
                        const bool dropLast = s + size - 1 > position + length - 1;
                        if (!frequent.contains(keyOf(dropLast ? ids : ids + 1, size - 1, bits)))
                            continue;
                    }
                    c.push_back({key, piece.file});
                }
                nextStart = std::max(nextStart, last + 1);
            }
            sortByKey(c, size * bits);
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
                    found.push_back({c[at].key, quint32(end - at), files, size});
                at = end;
            }
        };
        // As many parts as keep each at a few million candidates at most (estimated from the
        // hits: each holds at most one run a place it may take).
        const size_t places = request.place == ClusterPlace::Anywhere ? size_t(size - length + 1) : 1;
        const size_t estimate = all.hits.size() * places;
        int partBits = 1;
        while ((estimate >> partBits) > kPartCandidates && partBits < 10)
            ++partBits;
        std::vector<ClusterCount> found[2];
        for (size_t part = 0; part < (size_t(1) << partBits); part += 2) {
            if (estimate < 65536) {
                countPart(part, partBits, found[0]);
                countPart(part + 1, partBits, found[1]);
            } else {
                onTwoThreads([&] { countPart(part + 1, partBits, found[1]); }, [&] { countPart(part, partBits, found[0]); });
            }
        }
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
    all = Kept();

    // The words of the clusters: as counted, each group's lemma, or each stem's most frequent form.
    // Only the words that some cluster holds are spelled out.
    const CorpusVocabulary &vocabulary = scan.vocabulary();
    const bool byLemma = grouped && request.finder->groupsByLemma();
    std::vector<quint32> shownWord; // group number -> the word number it is shown by
    if (grouped && !byLemma) {
        std::vector<quint64> frequency(vocabulary.size(), 0);
        std::vector<quint32> groupOf(vocabulary.size(), 0);
        const auto gather = [&](const std::vector<quint32> &of) {
            for (size_t id = 0; id < of.size() && id < groupOf.size(); ++id) {
                if (of[id])
                    groupOf[id] = of[id];
            }
        };
        for (const auto &state : workers.all()) {
            for (size_t id = 0; id < state->frequency.size() && id < frequency.size(); ++id)
                frequency[id] += state->frequency[id];
            if (state->groups)
                gather(state->groups->groupOf());
        }
        if (seamGroups)
            gather(seamGroups->groupOf());
        shownWord.assign(groups.size(), CorpusToken::kNoNumber);
        std::vector<quint64> best(groups.size(), 0);
        QString shown, candidate;
        for (quint32 id = 0; id < vocabulary.size(); ++id) {
            const quint32 g = groupOf[id];
            if (g == 0)
                continue;
            quint32 &form = shownWord[g - 1];
            const quint64 f = frequency[id];
            if (form != CorpusToken::kNoNumber && f < best[g - 1])
                continue;
            if (form != CorpusToken::kNoNumber && f == best[g - 1] && !(vocabulary.word(id) < vocabulary.word(form)))
                continue;
            form = id;
            best[g - 1] = f;
        }
    }
    QHash<quint32, QString> spelled;
    const auto wordOf = [&](quint32 id) -> const QString & {
        auto it = spelled.find(id);
        if (it == spelled.end())
            it = spelled.insert(id, byLemma ? groups.word(id) : vocabulary.word(grouped ? shownWord.at(id) : id));
        return *it;
    };
    for (const ClusterCount &cc : counted) {
        ClusterRow row;
        for (int k = 0; k < cc.size; ++k) {
            if (k > 0)
                row.cluster += u' ';
            row.cluster += wordOf(idAt(cc.key, k, bits));
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
