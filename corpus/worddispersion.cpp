#include "corpus/worddispersion.h"

#include "corpus/perthread.h"
#include "corpus/wordhashes.h"
#include "engine/hashtally.h"

#include <algorithm>
#include <cmath>

namespace corvalen {

namespace {

// Counts by hash, open addressing; the hash 0 stands for an empty slot (a word's hash is made odd).
class HashCounts
{
public:
    HashCounts() : m_slots(1024) { }
    void add(quint64 h, quint32 n = 1)
    {
        if ((m_used + 1) * 2 > m_slots.size())
            grow();
        for (size_t i = h & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
            Slot &s = m_slots[i];
            if (s.hash == h) {
                s.count += n;
                return;
            }
            if (s.hash == 0) {
                s = {h, n};
                ++m_used;
                return;
            }
        }
    }
    template<typename F>
    void forEach(F &&f) const
    {
        for (const Slot &s : m_slots) {
            if (s.hash)
                f(s.hash, s.count);
        }
    }
    void clear()
    {
        if (m_used == 0)
            return;
        std::fill(m_slots.begin(), m_slots.end(), Slot{});
        m_used = 0;
    }
    size_t size() const { return m_used; }

private:
    struct Slot
    {
        quint64 hash = 0;
        quint32 count = 0;
    };
    void grow()
    {
        std::vector<Slot> old = std::move(m_slots);
        m_slots.assign(old.size() * 2, Slot{});
        m_used = 0;
        for (const Slot &s : old) {
            if (s.hash)
                add(s.hash, s.count);
        }
    }
    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

// What a worker keeps: its counts of one slice, and with word forms grouped, the group of each word
// it met, by hash.
struct Worker
{
    explicit Worker(const WordFinder &finder) : groups(finder) { }
    HashCounts counts;
    WordGroupHashes groups;
};

} // namespace

quint64 FileWordCounts::keyOf(QStringView word) const
{
    if (m_phrase > 1) {
        quint64 h = 0;
        for (const QStringView part : word.split(u' '))
            h = combinedHash(h, m_finder->groupsWords() ? wordHash(m_finder->groupKey(part)) : wordHash(part));
        return h | 1;
    }
    return (m_finder->groupsWords() ? wordHash(m_finder->groupKey(word)) : wordHash(word)) | 1;
}

FileWordCounts FileWordCounts::measure(const QStringList &files, std::shared_ptr<const WordFinder> finder,
                                       const std::atomic<bool> *stop, Progress *progress)
{
    FileWordCounts result;
    result.m_finder = finder->clone();
    result.m_phrase = std::max(1, finder->rules().phraseLength);
    result.m_fileWords.assign(size_t(files.size()), -1);
    const int phrase = result.m_phrase;
    const bool grouped = finder->groupsWords();
    CorpusScan scan(hashedWordScan(files, finder));

    PerThread<Worker> workers([&] { return std::make_unique<Worker>(*finder); });
    // Each slice's words (or phrases) counted by hash; a slice lies in one file.
    const CorpusScan::Work work = [&](CorpusSlice &slice) {
        Worker &w = workers.local();
        w.counts.clear();
        quint64 last[8] = {};
        int filled = 0;
        for (CorpusToken &t : slice.tokens) {
            const quint64 h = grouped ? w.groups.of(t, slice.view()) : t.hash;
            if (phrase == 1) {
                w.counts.add(h | 1);
                continue;
            }
            if (t.gapBefore)
                filled = 0;
            if (filled == phrase) {
                for (int k = 1; k < phrase; ++k)
                    last[k - 1] = last[k];
                --filled;
            }
            last[filled++] = h;
            if (filled == phrase) {
                quint64 p = 0;
                for (int k = 0; k < phrase; ++k)
                    p = combinedHash(p, last[k]);
                w.counts.add(p | 1);
            }
        }
        std::vector<std::pair<quint64, quint32>> out;
        out.reserve(w.counts.size());
        qint64 items = 0;
        w.counts.forEach([&](quint64 h, quint32 n) {
            out.push_back({h, n});
            items += n;
        });
        slice.result = std::make_pair(items, std::move(out));
    };

    // In order: each file's counts gathered over its slices, then its words' pairs kept.
    using Counted = std::pair<qint64, std::vector<std::pair<quint64, quint32>>>;
    HashCounts fileCounts;
    qint64 fileItems = 0;
    bool fileFailed = false;
    qint32 file = -1;
    std::vector<std::pair<quint64, Pair>> pairs; // hash, file and count
    const CorpusScan::InOrder inOrder = [&](CorpusSlice &slice) {
        if (slice.file != file) {
            file = slice.file;
            fileCounts.clear();
            fileItems = 0;
            fileFailed = false;
        }
        if (slice.failed) {
            fileFailed = true;
            result.m_failures.emplace_back(slice.file, slice.failure);
            return;
        }
        if (slice.result.has_value()) {
            const Counted &counted = *std::any_cast<Counted>(&slice.result);
            fileItems += counted.first;
            for (const auto &[h, n] : counted.second)
                fileCounts.add(h, n);
        }
        if (slice.lastOfFile && !fileFailed) {
            result.m_fileWords[size_t(file)] = fileItems;
            fileCounts.forEach([&](quint64 h, quint32 n) { pairs.push_back({h, Pair{quint32(file), n}}); });
        }
    };
    scan.run(work, inOrder, stop, progress);

    // The pairs grouped by word: a table of the words' hashes, and their files side by side.
    result.m_slots.assign(1024, 0);
    const auto place = [&result](quint64 h, quint64 index) {
        size_t i = h & (result.m_slots.size() - 1);
        while (result.m_slots[i] != 0)
            i = (i + 1) & (result.m_slots.size() - 1);
        result.m_slots[i] = index + 1;
    };
    std::vector<size_t> indexOf(pairs.size());
    for (size_t p = 0; p < pairs.size(); ++p) {
        const quint64 h = pairs[p].first;
        size_t i = h & (result.m_slots.size() - 1);
        for (;; i = (i + 1) & (result.m_slots.size() - 1)) {
            const quint64 at = result.m_slots[i];
            if (at == 0 || result.m_hashes[at - 1] == h)
                break;
        }
        if (result.m_slots[i] != 0) {
            indexOf[p] = size_t(result.m_slots[i] - 1);
            continue;
        }
        indexOf[p] = result.m_hashes.size();
        result.m_hashes.push_back(h);
        if (result.m_hashes.size() * 2 > result.m_slots.size()) {
            result.m_slots.assign(result.m_slots.size() * 2, 0);
            for (size_t k = 0; k < result.m_hashes.size(); ++k)
                place(result.m_hashes[k], k);
        } else {
            result.m_slots[i] = result.m_hashes.size();
        }
    }
    result.m_starts.assign(result.m_hashes.size() + 1, 0);
    for (const size_t index : indexOf)
        ++result.m_starts[index + 1];
    for (size_t k = 1; k < result.m_starts.size(); ++k)
        result.m_starts[k] += result.m_starts[k - 1];
    result.m_pairs.resize(pairs.size());
    std::vector<size_t> next(result.m_starts.begin(), result.m_starts.end() - 1);
    for (size_t p = 0; p < pairs.size(); ++p)
        result.m_pairs[next[indexOf[p]]++] = pairs[p].second;
    for (const qint64 words : result.m_fileWords) {
        result.m_parts += words > 0;
        result.m_words += std::max<qint64>(0, words);
    }
    return result;
}

WordDispersion FileWordCounts::of(QStringView word, qint64 count, qint64 total) const
{
    WordDispersion d;
    d.perMillion = total > 0 ? double(count) / double(total) * 1e6 : 0.0;
    if (m_parts < 2 || count <= 0 || m_slots.empty())
        return d;
    const quint64 h = keyOf(word);
    size_t i = h & (m_slots.size() - 1);
    for (;; i = (i + 1) & (m_slots.size() - 1)) {
        if (m_slots[i] == 0)
            return d; // not found: nothing to say
        if (m_hashes[m_slots[i] - 1] == h)
            break;
    }
    // Only the files that hold the word are visited: a row costs its files, not the corpus's.
    const size_t index = m_slots[i] - 1;
    const double n = double(m_parts), F = double(count), W = double(m_words);
    double sumX = 0, sumX2 = 0, sumAbs = 0, sumShare = 0;
    for (size_t k = m_starts[index]; k < m_starts[index + 1]; ++k) {
        const Pair &p = m_pairs[k];
        const double w = double(m_fileWords[p.file]);
        if (w <= 0)
            continue;
        const double x = double(p.count) / w;
        sumX += x;
        sumX2 += x * x;
        const double share = w / W;
        sumAbs += std::abs(double(p.count) / F - share);
        sumShare += share;
    }
    // The files without the word: x_i = 0, and each adds its share to the sum of differences.
    d.dp = 0.5 * (sumAbs + std::max(0.0, 1.0 - sumShare));
    const double mean = sumX / n;
    const double variance = std::max(0.0, sumX2 / n - mean * mean);
    // D lies in [0, 1]; rounding could take it a hair outside (-1e-17 for a word of one file),
    // which would show as -0.0000 and order apart from 0. A word of one file is exactly 0.
    if (mean > 0)
        d.juillandD = m_starts[index + 1] - m_starts[index] == 1
                ? 0.0
                : std::clamp(1.0 - (std::sqrt(variance) / mean) / std::sqrt(n - 1.0), 0.0, 1.0);
    return d;
}

void FileWordCounts::forEachFile(QStringView word, const std::function<void(qint32 file, qint64 count)> &visit) const
{
    if (m_slots.empty())
        return;
    const quint64 h = keyOf(word);
    for (size_t i = h & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
        if (m_slots[i] == 0)
            return;
        const size_t index = m_slots[i] - 1;
        if (m_hashes[index] != h)
            continue;
        for (size_t k = m_starts[index]; k < m_starts[index + 1]; ++k)
            visit(qint32(m_pairs[k].file), qint64(m_pairs[k].count));
        return;
    }
}

} // namespace corvalen
