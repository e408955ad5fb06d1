#include "engine/hashtally.h"
#include "engine/tallyrules.h"
#include "engine/wordrules.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <utility>
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
    quint32 length;
    quint32 files; // with file marks, else 0

    friend bool operator<(const SortItem &a, const SortItem &b)
    {
        if (a.count != b.count)
            return a.count < b.count;
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return std::u16string_view(a.text, a.length) < std::u16string_view(b.text, b.length);
    }
};

SortItem sortItem(std::u16string_view w, qint64 count, qint64 files = 0)
{
    quint64 prefix = 0;
    for (size_t i = 0; i < 4; ++i)
        prefix = prefix << 16 | (i < w.size() ? w[i] : 0);
    return {count, prefix, w.data(), quint32(w.size()), quint32(files)};
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

// Runs work(0) and work(1), on two threads for large inputs.
template<typename F>
void eachHalf(size_t size, F &&work)
{
    if (size < 65536) {
        work(size_t(0));
        work(size_t(1));
        return;
    }
    std::thread other([&] { work(size_t(0)); });
    work(size_t(1));
    other.join();
}

} // namespace

std::vector<WordCount> orderedRows(const HashTally &tally)
{
    std::vector<SortItem> items;
    items.reserve(tally.distinct());
    tally.forEachWithFiles([&items](std::u16string_view w, qint64 n, qint64 files) {
        items.push_back(sortItem(w, n, files));
    });
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
            rows[i] = WordCount(QString(reinterpret_cast<const QChar *>(item.text), qsizetype(item.length)),
                                item.count);
            rows[i].files = item.files;
        }
    });
    return rows;
}

namespace {

__extension__ typedef unsigned __int128 Key128;

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

// Sorts keys of up to width bits, 11 bits a pass (few enough places to scatter to that they all
// stay in the cache), each half of the keys counted and scattered on a thread of its own.
void radixSort(TableVector<quint64> &keys, int width)
{
    constexpr int kDigit = 11;
    constexpr size_t kPlaces = size_t(1) << kDigit;
    constexpr quint64 kMask = kPlaces - 1;
    TableVector<quint64> sorted(keys.size());
    const size_t middle = keys.size() / 2;
    std::vector<size_t> at[2] = {std::vector<size_t>(kPlaces), std::vector<size_t>(kPlaces)};
    for (int shift = 0; shift < width; shift += kDigit) {
        const auto histogram = [&](size_t half) {
            std::vector<size_t> &h = at[half];
            std::fill(h.begin(), h.end(), 0);
            const size_t from = half ? middle : 0, to = half ? keys.size() : middle;
            for (size_t i = from; i < to; ++i)
                ++h[(keys[i] >> shift) & kMask];
        };
        eachHalf(keys.size(), histogram);
        size_t sum = 0;
        for (size_t d = 0; d < kPlaces; ++d) {
            for (std::vector<size_t> &h : at)
                sum += std::exchange(h[d], sum);
        }
        const auto scatter = [&](size_t half) {
            std::vector<size_t> &h = at[half];
            const size_t from = half ? middle : 0, to = half ? keys.size() : middle;
            for (size_t i = from; i < to; ++i)
                sorted[h[(keys[i] >> shift) & kMask]++] = keys[i];
        };
        eachHalf(keys.size(), scatter);
        keys.swap(sorted);
    }
}

void sortKeys(TableVector<quint64> &keys, int width)
{
    radixSort(keys, width);
}

void sortKeys(TableVector<Key128> &keys, int)
{
    inTwoHalves(keys.size(), [&keys](size_t from, size_t to) {
        std::sort(keys.begin() + qsizetype(from), keys.begin() + qsizetype(to));
    });
    std::inplace_merge(keys.begin(), keys.begin() + qsizetype(keys.size() / 2), keys.end());
}

// The phrases of tally as keys of the ranks of their words, sorted and counted.
// With files, each key ends with its phrase's file: a phrase's keys then lie side by side, one
// run of equal keys per file.
template<typename Key>
void countKeys(HashTally &tally, PhraseCounts &out, const std::vector<quint32> &textRank,
               const std::vector<quint32> &spaceRank, bool filePairs)
{
    const int length = out.length;
    const int fileBits = out.fileBits;
    const size_t stride = size_t(length) + (fileBits ? 1 : 0);
    TableVector<Key> keys;
    keys.reserve(size_t(tally.total()));
    for (const TableVector<quint32> &block : tally.sequences()) {
        for (size_t at = 0; at + stride <= block.size(); at += stride) {
            Key key = 0;
            for (int i = 0; i < length; ++i) {
                const quint32 id = block[at + size_t(i)];
                key = key << out.bits | (i + 1 < length ? spaceRank[id] : textRank[id]);
            }
            if (fileBits)
                key = key << fileBits | block[at + size_t(length)];
            keys.push_back(key);
        }
    }
    tally.reset(); // the phrases are in keys now
    sortKeys(keys, out.bits * length + fileBits);
    const auto phrase = [fileBits](Key key) { return key >> fileBits; };
    size_t distinct = 0;
    for (size_t i = 0; i < keys.size(); ++i)
        distinct += i == 0 || phrase(keys[i]) != phrase(keys[i - 1]);
    out.items.reserve(distinct);
    const Key fileMask = (Key(1) << fileBits) - 1;
    for (size_t i = 0; i < keys.size();) {
        size_t j = i + 1;
        quint32 files = 1;
        if (filePairs)
            out.filePairs.push_back(quint64(out.items.size()) << 32 | quint32(keys[i] & fileMask));
        for (; j < keys.size() && phrase(keys[j]) == phrase(keys[i]); ++j) {
            if (keys[j] != keys[j - 1]) {
                ++files;
                if (filePairs)
                    out.filePairs.push_back(quint64(out.items.size()) << 32 | quint32(keys[j] & fileMask));
            }
        }
        const Key128 p = Key128(phrase(keys[i]));
        out.items.push_back({qint64(j - i), quint64(p >> 64), quint64(p), fileBits ? files : 0});
        out.total += qint64(j - i);
        i = j;
    }
}

// As countKeys(), for phrases whose words' ranks fill a key by themselves (millions of distinct
// words): each file is kept beside its key instead of in it, and the pairs are compared whole.
void countKeysBesideFiles(HashTally &tally, PhraseCounts &out, const std::vector<quint32> &textRank,
                          const std::vector<quint32> &spaceRank, bool filePairs)
{
    const int length = out.length;
    const size_t stride = size_t(length) + 1;
    TableVector<std::pair<Key128, quint32>> keys;
    keys.reserve(size_t(tally.total()));
    for (const TableVector<quint32> &block : tally.sequences()) {
        for (size_t at = 0; at + stride <= block.size(); at += stride) {
            Key128 key = 0;
            for (int i = 0; i < length; ++i) {
                const quint32 id = block[at + size_t(i)];
                key = key << out.bits | (i + 1 < length ? spaceRank[id] : textRank[id]);
            }
            keys.emplace_back(key, block[at + size_t(length)]);
        }
    }
    tally.reset();
    inTwoHalves(keys.size(), [&keys](size_t from, size_t to) {
        std::sort(keys.begin() + qsizetype(from), keys.begin() + qsizetype(to));
    });
    std::inplace_merge(keys.begin(), keys.begin() + qsizetype(keys.size() / 2), keys.end());
    for (size_t i = 0; i < keys.size();) {
        size_t j = i;
        quint32 files = 0;
        for (; j < keys.size() && keys[j].first == keys[i].first; ++j) {
            if (j == i || keys[j].second != keys[j - 1].second) {
                ++files;
                if (filePairs)
                    out.filePairs.push_back(quint64(out.items.size()) << 32 | keys[j].second);
            }
        }
        const Key128 p = keys[i].first;
        out.items.push_back({qint64(j - i), quint64(p >> 64), quint64(p), files});
        out.total += qint64(j - i);
        i = j;
    }
}

} // namespace

PhraseCounts countPhrases(HashTally &tally, const WordIds &ids, int length, quint32 lastFile,
                          bool filePairs)
{
    // A phrase's text is its words, each but the last followed by a space, and no word holds a
    // space: phrases are ordered as the tuples of their words, the words but the last ordered as
    // if followed by a space. Each word gets its two ranks once, and phrases compare as numbers.
    PhraseCounts out;
    out.length = length;
    const size_t words = ids.size();
    out.byText.resize(words);
    out.bySpace.resize(words);
    std::iota(out.byText.begin(), out.byText.end(), 0u);
    std::iota(out.bySpace.begin(), out.bySpace.end(), 0u);
    std::sort(out.byText.begin(), out.byText.end(),
              [&](quint32 a, quint32 b) { return ids.word(a) < ids.word(b); });
    std::sort(out.bySpace.begin(), out.bySpace.end(),
              [&](quint32 a, quint32 b) { return lessWithSpace(ids.word(a), ids.word(b)); });
    std::vector<quint32> textRank(words), spaceRank(words);
    for (size_t r = 0; r < words; ++r) {
        textRank[out.byText[r]] = quint32(r);
        spaceRank[out.bySpace[r]] = quint32(r);
    }
    out.bits = 1;
    while (out.bits < 32 && (quint64(1) << out.bits) < words)
        ++out.bits;
    if (tally.hasFileMarks()) {
        out.fileBits = 1;
        while (out.fileBits < 32 && (quint64(1) << out.fileBits) <= lastFile)
            ++out.fileBits;
    }
    const int width = out.bits * length + out.fileBits;
    if (out.bits * length > 128)
        throw std::length_error("Too many distinct words to order their phrases.");
    if (width > 128)
        countKeysBesideFiles(tally, out, textRank, spaceRank, filePairs);
    else if (width <= 64)
        countKeys<quint64>(tally, out, textRank, spaceRank, filePairs);
    else
        countKeys<Key128>(tally, out, textRank, spaceRank, filePairs);
    return out;
}

std::vector<WordCount> phraseRows(const PhraseCounts &phrases, const WordIds &ids, bool ordered)
{
    // The phrases are in the order of their text: ordered by count, ties keep it. Counts are
    // mostly small; the few large ones are sorted apart.
    const TableVector<PhraseItem> &items = phrases.items;
    TableVector<quint32> order;
    if (ordered) {
        constexpr qint64 kSmall = 1 << 16;
        std::vector<size_t> at(size_t(kSmall) + 1);
        std::vector<quint32> large;
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].count < kSmall)
                ++at[size_t(items[i].count)];
            else
                large.push_back(quint32(i));
        }
        size_t sum = 0;
        for (size_t &n : at)
            sum += std::exchange(n, sum);
        order.resize(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].count < kSmall)
                order[at[size_t(items[i].count)]++] = quint32(i);
        }
        std::stable_sort(large.begin(), large.end(),
                         [&](quint32 a, quint32 b) { return items[a].count < items[b].count; });
        std::copy(large.begin(), large.end(), order.begin() + qsizetype(sum));
    }
    const int length = phrases.length;
    const int bits = phrases.bits;
    const Key128 mask = (Key128(1) << bits) - 1;
    std::vector<WordCount> rows(items.size());
    inTwoHalves(items.size(), [&](size_t from, size_t to) {
        std::u16string_view words[WordRules::kMaxPhraseLength];
        constexpr size_t kAhead = 16; // ordered by count, the items are read all over: fetch them early
        for (size_t i = from; i < to; ++i) {
            if (ordered && i + kAhead < to)
                __builtin_prefetch(&items[order[i + kAhead]]);
            const PhraseItem &item = items[ordered ? order[i] : i];
            const Key128 packed = Key128(item.high) << 64 | item.low;
            qsizetype size = length - 1;
            for (int w = 0; w < length; ++w) {
                const quint32 rank = quint32((packed >> (bits * (length - 1 - w))) & mask);
                words[w] = ids.word(w + 1 < length ? phrases.bySpace[rank] : phrases.byText[rank]);
                size += qsizetype(words[w].size());
            }
            QString text(size, Qt::Uninitialized);
            auto *out = reinterpret_cast<char16_t *>(text.data());
            for (int w = 0; w < length; ++w) {
                if (w > 0)
                    *out++ = u' ';
                out = std::copy(words[w].begin(), words[w].end(), out);
            }
            rows[i] = WordCount(std::move(text), item.count);
            rows[i].files = item.files;
        }
    });
    return rows;
}

void countFilePairs(TableVector<quint64> &pairs, std::vector<quint32> &files)
{
    int width = 33;
    while (width < 64 && (quint64(1) << (width - 32)) < files.size())
        ++width;
    radixSort(pairs, width);
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    for (const quint64 pair : pairs)
        ++files[size_t(pair >> 32)];
}

// Sorted as the tally's rows are (count, then the first code units packed into a number, then the
// rest), then moved into place.
void orderByItems(std::vector<WordCount> &rows)
{
    std::vector<std::pair<SortItem, size_t>> items;
    items.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString &w = rows[i].word;
        const std::u16string_view text(reinterpret_cast<const char16_t *>(w.utf16()), size_t(w.size()));
        items.emplace_back(sortItem(text, rows[i].count), i);
    }
    std::sort(items.begin(), items.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<WordCount> ordered;
    ordered.reserve(rows.size());
    for (const auto &item : items)
        ordered.push_back(std::move(rows[item.second]));
    rows.swap(ordered);
}

} // namespace counting

void orderRows(std::vector<WordCount> &rows)
{
    counting::orderByItems(rows);
}

} // namespace corvalen
