#include "corpus/lexicalvariety.h"

#include "corpus/perthread.h"
#include "corpus/wordhashes.h"
#include "engine/hashtally.h"

#include <algorithm>

namespace corvalen {

namespace {

// The distinct hashes of one part, a generation a part, so that a new part costs nothing.
class PartTypes
{
public:
    PartTypes() : m_slots(4096) { }
    void startPart()
    {
        ++m_generation;
        m_types = 0;
    }
    void add(quint64 h)
    {
        for (size_t i = h & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
            Slot &s = m_slots[i];
            if (s.generation != m_generation) {
                s = {h, m_generation};
                ++m_types;
                return;
            }
            if (s.hash == h)
                return;
        }
    }
    qint64 types() const { return m_types; }

private:
    struct Slot
    {
        quint64 hash = 0;
        quint32 generation = 0;
    };
    std::vector<Slot> m_slots;
    quint32 m_generation = 1;
    qint64 m_types = 0;
};

// The hashes of a sliding window with how often each is in it.
class WindowTypes
{
public:
    WindowTypes() : m_slots(2048) { }
    void add(quint64 h)
    {
        size_t i = h & (m_slots.size() - 1);
        for (;; i = (i + 1) & (m_slots.size() - 1)) {
            Slot &s = m_slots[i];
            if (s.count == 0) {
                s = {h, 1};
                ++m_types;
                return;
            }
            if (s.hash == h) {
                ++s.count;
                return;
            }
        }
    }
    void remove(quint64 h)
    {
        size_t i = h & (m_slots.size() - 1);
        while (!(m_slots[i].count > 0 && m_slots[i].hash == h))
            i = (i + 1) & (m_slots.size() - 1);
        if (--m_slots[i].count > 0)
            return;
        --m_types;
        // The slots after it that it kept from their own place move back (linear probing).
        for (size_t j = (i + 1) & (m_slots.size() - 1); m_slots[j].count > 0; j = (j + 1) & (m_slots.size() - 1)) {
            const size_t home = m_slots[j].hash & (m_slots.size() - 1);
            const bool between = i <= j ? (home > i && home <= j) : (home > i || home <= j);
            if (!between) {
                m_slots[i] = m_slots[j];
                m_slots[j] = Slot{};
                i = j;
            }
        }
    }
    void clear()
    {
        std::fill(m_slots.begin(), m_slots.end(), Slot{});
        m_types = 0;
    }
    qint64 types() const { return m_types; }

private:
    struct Slot
    {
        quint64 hash = 0;
        quint32 count = 0;
    };
    std::vector<Slot> m_slots;
    qint64 m_types = 0;
};

// The figures of one text as its items (words or phrases) come, in order.
class VarietyCounter
{
public:
    void add(quint64 h)
    {
        ++m_tokens;
        m_part.add(h);
        if (m_tokens % LexicalVariety::kPart == 0) {
            m_partSum += double(m_part.types()) / double(LexicalVariety::kPart);
            ++m_parts;
            m_part.startPart();
        }
        if (m_window.size() == size_t(LexicalVariety::kWindow)) {
            m_types.remove(m_window[m_oldest]);
            m_window[m_oldest] = h;
            m_oldest = (m_oldest + 1) % m_window.size();
        } else {
            m_window.push_back(h);
        }
        m_types.add(h);
        if (m_tokens >= LexicalVariety::kWindow) {
            m_windowSum += double(m_types.types()) / double(LexicalVariety::kWindow);
            ++m_windows;
        }
    }

    // The figures, a text shorter than a part or a window counting its plain ratio once.
    LexicalVariety result() const
    {
        LexicalVariety v;
        v.tokens = m_tokens;
        if (m_tokens == 0)
            return v;
        if (m_parts > 0) {
            v.standardised = m_partSum / double(m_parts);
            v.parts = m_parts;
        } else {
            v.standardised = double(m_part.types()) / double(m_tokens);
            v.parts = 1;
        }
        if (m_windows > 0) {
            v.movingAverage = m_windowSum / double(m_windows);
            v.windows = m_windows;
        } else {
            v.movingAverage = double(m_types.types()) / double(m_tokens);
            v.windows = 1;
        }
        return v;
    }

    void reset()
    {
        m_tokens = m_parts = m_windows = 0;
        m_partSum = m_windowSum = 0;
        m_part.startPart();
        m_types.clear();
        m_window.clear();
        m_oldest = 0;
    }

private:
    qint64 m_tokens = 0;
    PartTypes m_part;
    double m_partSum = 0;
    qint64 m_parts = 0;
    WindowTypes m_types;
    std::vector<quint64> m_window;
    size_t m_oldest = 0;
    double m_windowSum = 0;
    qint64 m_windows = 0;
};

// What a worker keeps: with word forms grouped, the group of each word it met, by hash.
} // namespace

LexicalVarietyResult measureLexicalVariety(const QStringList &files, std::shared_ptr<const WordFinder> finder,
                                           const std::atomic<bool> *stop, Progress *progress)
{
    LexicalVarietyResult result;
    result.files.resize(size_t(files.size()));
    const int phrase = std::max(1, finder->rules().phraseLength);
    const bool grouped = finder->groupsWords();
    CorpusScan scan(hashedWordScan(files, finder));

    PerThread<WordGroupHashes> groups([&] { return std::make_unique<WordGroupHashes>(*finder); });
    // With word forms grouped, a word's hash becomes its group's.
    const CorpusScan::Work work = [&](CorpusSlice &slice) {
        if (!grouped)
            return;
        WordGroupHashes &g = groups.local();
        for (CorpusToken &t : slice.tokens)
            t.hash = g.of(t, slice.view());
    };

    qint32 file = -1;
    bool fileFailed = false;
    VarietyCounter counter;
    std::vector<quint64> last; // the last words of the run, for phrases
    double allParts = 0, allWindows = 0;
    const CorpusScan::InOrder inOrder = [&](CorpusSlice &slice) {
        if (slice.file != file) {
            file = slice.file;
            fileFailed = false;
            counter.reset();
            last.clear();
        }
        if (slice.failed) {
            fileFailed = true;
            result.failures.emplace_back(slice.file, slice.failure);
            return;
        }
        for (const CorpusToken &t : slice.tokens) {
            if (phrase == 1) {
                counter.add(t.hash);
                continue;
            }
            if (t.gapBefore)
                last.clear();
            last.push_back(t.hash);
            if (last.size() > size_t(phrase))
                last.erase(last.begin());
            if (last.size() == size_t(phrase)) {
                quint64 h = 0;
                for (const quint64 w : last)
                    h = combinedHash(h, w);
                counter.add(h);
            }
        }
        if (slice.lastOfFile && !fileFailed) {
            const LexicalVariety v = counter.result();
            result.files[size_t(file)] = v;
            result.all.tokens += v.tokens;
            allParts += v.standardised * double(v.parts);
            allWindows += v.movingAverage * double(v.windows);
            result.all.parts += v.parts;
            result.all.windows += v.windows;
        }
    };
    result.complete = scan.run(work, inOrder, stop, progress);
    if (result.all.parts > 0)
        result.all.standardised = allParts / double(result.all.parts);
    if (result.all.windows > 0)
        result.all.movingAverage = allWindows / double(result.all.windows);
    return result;
}

} // namespace corvalen
