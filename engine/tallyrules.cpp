#include "engine/tallyrules.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <stdexcept>
#include <thread>

namespace corvalen::counting {

namespace {

// Words found by the finder go to the counter through its buffer, where they stay put until it
// has added them.
class CountingSink : public WordSink
{
public:
    explicit CountingSink(Counter &counter) : m_counter(counter) { }
    void word(QStringView w, qsizetype, qsizetype) override
    {
        const size_t n = size_t(w.size());
        char16_t *out = m_counter.reserve(n);
        std::copy_n(reinterpret_cast<const char16_t *>(w.utf16()), n, out);
        m_counter.commit(n);
        m_counter.arrive(out, n);
    }

private:
    Counter &m_counter;
};

// Phrases as keys of two code units per word number.
class PhraseSink : public WordSink
{
public:
    PhraseSink(Counter &counter, TallyRules::Lane &lane, WordIds &ids, int length)
        : m_counter(counter), m_lane(lane), m_ids(ids), m_length(length)
    {
    }
    void word(QStringView w, qsizetype, qsizetype) override
    {
        // The finder's word has kSlack readable units after it.
        const auto *text = reinterpret_cast<const char16_t *>(w.utf16());
        const size_t n = size_t(w.size());
        const WordRef ref = makeWordRef(text, n);
        qint64 id = m_lane.ids.countOf(ref);
        if (id == 0) {
            id = qint64(m_ids.idOf(text, n)) + 1;
            m_lane.ids.add(ref, id);
        }
        m_ring[m_filled % m_length] = quint32(id - 1);
        ++m_filled;
        if (m_filled < m_length)
            return;
        const size_t units = size_t(2 * m_length);
        char16_t *key = m_counter.reserve(units);
        for (int i = 0; i < m_length; ++i) {
            const quint32 at = m_ring[(m_filled - m_length + i) % m_length];
            key[2 * i] = char16_t(at & 0xFFFF);
            key[2 * i + 1] = char16_t(at >> 16);
        }
        m_counter.commit(units);
        m_counter.arrive(key, units);
    }
    void gap() override { m_filled = 0; }

private:
    Counter &m_counter;
    TallyRules::Lane &m_lane;
    WordIds &m_ids;
    int m_length;
    quint32 m_ring[WordRules::kMaxPhraseLength] = {};
    int m_filled = 0;
};

} // namespace

WordIds::WordIds()
{
    clear();
}

quint32 WordIds::idOf(const char16_t *w, size_t n)
{
    std::lock_guard lock(m_mutex);
    const WordRef ref = makeWordRef(w, n);
    if (const qint64 known = m_index.countOf(ref))
        return quint32(known - 1);
    const size_t id = size();
    if (id >= std::numeric_limits<quint32>::max())
        throw std::length_error("Too many distinct words for phrases.");
    m_text.insert(m_text.end(), w, w + n);
    m_starts.push_back(m_text.size());
    m_index.add(ref, qint64(id) + 1);
    return quint32(id);
}

void WordIds::clear()
{
    std::lock_guard lock(m_mutex);
    m_index.reset();
    m_text.clear();
    m_starts.assign(1, 0);
}

TallyRules::TallyRules(const WordFinder &finder) : m_prototype(finder.clone())
{
    if (finder.rules().phraseLength > 1)
        m_kind = Kind::Phrases;
    else if (finder.countsPlainWords())
        m_kind = Kind::Plain;
    else
        m_kind = Kind::Words;
}

void TallyRules::count(Lane &lane, HashTally &tally, WordBuffer &buffer, QStringView text)
{
    if (!lane.finder)
        lane.finder = m_prototype->clone();
    Counter counter(tally, buffer);
    if (m_kind == Kind::Phrases) {
        PhraseSink sink(counter, lane, m_ids, phraseLength());
        lane.finder->findSingleWords(text, sink);
    } else {
        CountingSink sink(counter);
        lane.finder->findSingleWords(text, sink);
    }
}

void TallyRules::applyForms(HashTally &tally) const
{
    HashTally formed;
    QString form;
    std::vector<char16_t> key;
    tally.forEach([&](std::u16string_view w, qint64 n) {
        if (!m_prototype->formOf(QStringView(w.data(), qsizetype(w.size())), form))
            return;
        const size_t k = size_t(form.size());
        if (key.size() < k + kSlack)
            key.resize(k + kSlack);
        std::copy_n(reinterpret_cast<const char16_t *>(form.utf16()), k, key.data());
        formed.add(makeWordRef(key.data(), k), n);
    });
    std::swap(tally, formed);
}

std::vector<WordCount> TallyRules::rows(const HashTally &tally) const
{
    std::vector<WordCount> rows;
    rows.reserve(tally.distinct());
    tally.forEach([&](std::u16string_view w, qint64 n) {
        if (m_kind == Kind::Phrases)
            rows.emplace_back(phraseText(w, m_ids), n);
        else
            rows.emplace_back(QString(reinterpret_cast<const QChar *>(w.data()), qsizetype(w.size())), n);
    });
    return rows;
}

std::vector<WordCount> TallyRules::ordered(HashTally &tally, bool release) const
{
    if (m_kind == Kind::Phrases)
        return orderedPhrases(tally, m_ids, phraseLength(), release);
    std::vector<WordCount> rows = orderedRows(tally);
    if (release)
        tally.reset();
    return rows;
}

std::vector<WordCount> TallyRules::groups(std::vector<WordCount> &&forms) const
{
    // Keys are worked out on both cores when there are many: a stemmer per thread.
    std::vector<QString> keys(forms.size());
    const auto stem = [&](size_t from, size_t to) {
        std::unique_ptr<WordFinder> finder = m_prototype->clone();
        for (size_t i = from; i < to; ++i)
            keys[i] = finder->groupKey(forms[i].word);
    };
    if (forms.size() < 20000) {
        stem(0, forms.size());
    } else {
        std::exception_ptr failure;
        std::thread other([&] {
            try {
                stem(0, forms.size() / 2);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        try {
            stem(forms.size() / 2, forms.size());
        } catch (...) {
            other.join();
            throw;
        }
        other.join();
        if (failure)
            std::rethrow_exception(failure);
    }
    // A group's forms side by side, the most frequent first, ties by UTF-16 code units.
    std::vector<quint32> order(forms.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = quint32(i);
    std::sort(order.begin(), order.end(), [&](quint32 a, quint32 b) {
        if (const int c = QStringView(keys[a]).compare(keys[b]); c != 0)
            return c < 0;
        if (forms[a].count != forms[b].count)
            return forms[a].count > forms[b].count;
        return forms[a].word < forms[b].word;
    });
    std::vector<WordCount> groups;
    for (size_t i = 0; i < order.size();) {
        size_t j = i;
        qint64 sum = 0;
        auto members = std::make_shared<std::vector<WordCount>>();
        for (; j < order.size() && keys[order[j]] == keys[order[i]]; ++j) {
            sum += forms[order[j]].count;
            members->emplace_back(forms[order[j]].word, forms[order[j]].count);
        }
        groups.emplace_back(members->front().word, sum, std::move(members));
        i = j;
    }
    return groups;
}

QString phraseText(std::u16string_view key, const WordIds &ids)
{
    QString text;
    for (size_t i = 0; i + 1 < key.size(); i += 2) {
        const std::u16string_view w = ids.word(quint32(key[i]) | quint32(key[i + 1]) << 16);
        if (i > 0)
            text += u' ';
        text += QStringView(w.data(), qsizetype(w.size()));
    }
    return text;
}

} // namespace corvalen::counting
