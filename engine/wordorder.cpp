#include "engine/hashtally.h"
#include "engine/tallyrules.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace corvalen {

namespace counting {

namespace {

// A row while it is being ordered: the first four code units, packed so that comparing them as
// a number orders them as text, settle most ties of the count without reading the word.
struct SortItem
{
    qint64 count;
    quint64 prefix;
    const char16_t *text;
    size_t length;

    friend bool operator<(const SortItem &a, const SortItem &b)
    {
        if (a.count != b.count)
            return a.count < b.count;
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return std::u16string_view(a.text, a.length) < std::u16string_view(b.text, b.length);
    }
};

SortItem sortItem(std::u16string_view w, qint64 count)
{
    quint64 prefix = 0;
    for (size_t i = 0; i < 4; ++i)
        prefix = prefix << 16 | (i < w.size() ? w[i] : 0);
    return {count, prefix, w.data(), w.size()};
}

// Runs first(begin, middle) on a second thread and second(middle, end) here, for large inputs.
template<typename F>
void inTwoHalves(size_t size, F &&work)
{
    if (size < 65536) {
        work(size_t(0), size);
        return;
    }
    std::thread other([&] { work(size_t(0), size / 2); });
    work(size / 2, size);
    other.join();
}

} // namespace

std::vector<WordCount> orderedRows(const HashTally &tally)
{
    std::vector<SortItem> items;
    items.reserve(tally.distinct());
    tally.forEach(
            [&items](std::u16string_view w, qint64 n) { items.push_back(sortItem(w, n)); });
    inTwoHalves(items.size(), [&items](size_t from, size_t to) {
        std::sort(items.begin() + qsizetype(from), items.begin() + qsizetype(to));
    });
    std::inplace_merge(items.begin(), items.begin() + qsizetype(items.size() / 2), items.end());
    std::vector<WordCount> rows(items.size());
    inTwoHalves(items.size(), [&](size_t from, size_t to) {
        constexpr size_t kAhead = 16; // the words lie all over the tally: fetch them early
        for (size_t i = from; i < to; ++i) {
            if (i + kAhead < to)
                __builtin_prefetch(items[i + kAhead].text);
            const SortItem &item = items[i];
            rows[i] = {QString(reinterpret_cast<const QChar *>(item.text), qsizetype(item.length)),
                       item.count};
        }
    });
    return rows;
}

namespace {

__extension__ typedef unsigned __int128 Key128;

// A phrase while it is being ordered: the ranks of its words packed into 128 bits, so that
// comparing numbers orders the phrases as their text.
struct PhraseItem
{
    qint64 count;
    quint64 high;
    quint64 low;

    friend bool operator<(const PhraseItem &a, const PhraseItem &b)
    {
        if (a.count != b.count)
            return a.count < b.count;
        if (a.high != b.high)
            return a.high < b.high;
        return a.low < b.low;
    }
};

// Whether word a followed by a space comes before word b followed by a space.
bool lessWithSpace(std::u16string_view a, std::u16string_view b)
{
    const size_t common = std::min(a.size(), b.size());
    if (const int c = a.substr(0, common).compare(b.substr(0, common)); c != 0)
        return c < 0;
    if (a.size() == b.size())
        return false;
    return a.size() < b.size() ? 32 < b[common] : a[common] < 32;
}

} // namespace

std::vector<WordCount> orderedPhrases(HashTally &tally, const WordIds &ids, int length, bool release)
{
    // A phrase's text is its words, each but the last followed by a space, and no word holds a
    // space: phrases are ordered as the tuples of their words, the words but the last ordered as
    // if followed by a space. Each word gets its two ranks once, and phrases compare as numbers.
    const size_t words = ids.size();
    std::vector<quint32> byText(words), bySpace(words);
    std::iota(byText.begin(), byText.end(), 0u);
    std::iota(bySpace.begin(), bySpace.end(), 0u);
    std::sort(byText.begin(), byText.end(), [&](quint32 a, quint32 b) { return ids.word(a) < ids.word(b); });
    std::sort(bySpace.begin(), bySpace.end(),
              [&](quint32 a, quint32 b) { return lessWithSpace(ids.word(a), ids.word(b)); });
    std::vector<quint32> textRank(words), spaceRank(words);
    for (size_t r = 0; r < words; ++r) {
        textRank[byText[r]] = quint32(r);
        spaceRank[bySpace[r]] = quint32(r);
    }
    int bits = 1;
    while (bits < 32 && (quint64(1) << bits) < words)
        ++bits;
    if (bits * length > 128)
        throw std::length_error("Too many distinct words to order their phrases.");
    const Key128 mask = (Key128(1) << bits) - 1;

    std::vector<PhraseItem> items;
    items.reserve(tally.distinct());
    tally.forEach([&](std::u16string_view key, qint64 n) {
        Key128 packed = 0;
        for (int i = 0; i < length; ++i) {
            const quint32 id = quint32(key[size_t(2 * i)]) | quint32(key[size_t(2 * i + 1)]) << 16;
            packed = packed << bits | (i + 1 < length ? spaceRank[id] : textRank[id]);
        }
        items.push_back({n, quint64(packed >> 64), quint64(packed)});
    });
    if (release)
        tally.reset(); // the rows need its memory
    inTwoHalves(items.size(), [&items](size_t from, size_t to) {
        std::sort(items.begin() + qsizetype(from), items.begin() + qsizetype(to));
    });
    std::inplace_merge(items.begin(), items.begin() + qsizetype(items.size() / 2), items.end());

    std::vector<WordCount> rows(items.size());
    inTwoHalves(items.size(), [&](size_t from, size_t to) {
        QString text;
        for (size_t i = from; i < to; ++i) {
            const Key128 packed = Key128(items[i].high) << 64 | items[i].low;
            text.clear();
            for (int w = 0; w < length; ++w) {
                const int shift = bits * (length - 1 - w);
                const quint32 rank = quint32((packed >> shift) & mask);
                const std::u16string_view word = ids.word(w + 1 < length ? bySpace[rank] : byText[rank]);
                if (w > 0)
                    text += u' ';
                text += QStringView(word.data(), qsizetype(word.size()));
            }
            rows[i] = WordCount(QString(text.constData(), text.size()), items[i].count);
        }
    });
    return rows;
}

} // namespace counting

void orderRows(std::vector<WordCount> &rows)
{
    std::sort(rows.begin(), rows.end(), [](const WordCount &a, const WordCount &b) {
        if (a.count != b.count)
            return a.count < b.count;
        // QString's operator< is ordinal on UTF-16 code units.
        return a.word < b.word;
    });
}

} // namespace corvalen
