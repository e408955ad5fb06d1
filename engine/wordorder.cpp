#include "engine/hashtally.h"
#include "engine/tallyrules.h"
#include "engine/twohalves.h"
#include "engine/wordrules.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <numeric>
#include <type_traits>
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

using Key128 = PhraseKey128;

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

// A stable counting sort of n items by bucket, the items counted and moved in two halves on two
// threads: where each bucket's items begin, for the first half and for the second (whose items of
// a bucket come after the first half's). bucketOf(i) < buckets.
template<typename BucketOf>
std::array<std::vector<size_t>, 2> bucketPlaces(size_t n, size_t buckets, const BucketOf &bucketOf)
{
    std::array<std::vector<size_t>, 2> at{std::vector<size_t>(buckets), std::vector<size_t>(buckets)};
    eachHalf(n, [&](size_t half) {
        for (size_t i = half ? n / 2 : 0, end = half ? n : n / 2; i < end; ++i)
            ++at[half][bucketOf(i)];
    });
    size_t sum = 0;
    for (size_t b = 0; b < buckets; ++b) {
        for (std::vector<size_t> &places : at)
            sum += std::exchange(places[b], sum);
    }
    return at;
}

// Hands each item its place of at (bucketPlaces()): move(i, place).
template<typename BucketOf, typename Move>
void moveToPlaces(size_t n, std::array<std::vector<size_t>, 2> at, const BucketOf &bucketOf, const Move &move)
{
    eachHalf(n, [&](size_t half) {
        std::vector<size_t> &places = at[half];
        for (size_t i = half ? n / 2 : 0, end = half ? n : n / 2; i < end; ++i)
            move(i, places[bucketOf(i)]++);
    });
}

// Sorts keys of up to width bits, 11 bits a pass (few enough places to scatter to that they all
// stay in the cache).
void radixSort(TableVector<quint64> &keys, int width)
{
    constexpr int kDigit = 11;
    constexpr quint64 kMask = (quint64(1) << kDigit) - 1;
    TableVector<quint64> sorted(keys.size());
    for (int shift = 0; shift < width; shift += kDigit) {
        const auto digit = [&](size_t i) { return size_t((keys[i] >> shift) & kMask); };
        moveToPlaces(keys.size(), bucketPlaces(keys.size(), kMask + 1, digit), digit,
                     [&](size_t i, size_t to) { sorted[to] = keys[i]; });
        keys.swap(sorted);
    }
}

// Sorts [from, to) of keys on their low width bits, scratch as large beside it, least significant
// digit first; the keys end in keys.
void sortBucket(quint64 *keys, quint64 *scratch, size_t n, int width, std::vector<size_t> &at)
{
    if (n < 256) {
        std::sort(keys, keys + n);
        return;
    }
    const int passes = (width + 10) / 11;
    const int digit = (width + passes - 1) / passes;
    const quint64 mask = (quint64(1) << digit) - 1;
    at.assign(size_t(1) << digit, 0);
    quint64 *from = keys, *to = scratch;
    for (int shift = 0; shift < width; shift += digit) {
        std::fill(at.begin(), at.end(), 0);
        for (size_t i = 0; i < n; ++i)
            ++at[(from[i] >> shift) & mask];
        size_t sum = 0;
        for (size_t &place : at)
            sum += std::exchange(place, sum);
        for (size_t i = 0; i < n; ++i)
            to[at[(from[i] >> shift) & mask]++] = from[i];
        std::swap(from, to);
    }
    if (from != keys)
        std::copy_n(from, n, keys);
}

// Sorts keys of up to width bits: one pass over them all puts each key in the bucket of its top
// 11 bits, then the buckets, most of them small enough to stay in the cache, are sorted one by
// one on both cores. Passes over all the keys are what takes the time.
void sortKeys(TableVector<quint64> &keys, int width, TableVector<quint64> &spare)
{
    constexpr int kDigit = 11;
    constexpr size_t kPlaces = size_t(1) << kDigit;
    if (keys.size() < 65536 || width <= 2 * kDigit) {
        radixSort(keys, width);
        return;
    }
    const int shift = width - kDigit;
    TableVector<quint64> bucketed(keys.size());
    const auto top = [&](size_t i) { return size_t(keys[i] >> shift); };
    const auto places = bucketPlaces(keys.size(), kPlaces, top);
    std::vector<size_t> start = places[0]; // the first half's first place is its bucket's
    start.push_back(keys.size());
    moveToPlaces(keys.size(), places, top, [&](size_t i, size_t to) { bucketed[to] = keys[i]; });
    keys.swap(bucketed); // the old keys' room is each bucket's scratch
    std::atomic<size_t> next{0};
    eachHalf(keys.size(), [&](size_t) {
        std::vector<size_t> places;
        for (size_t b; (b = next.fetch_add(1)) < kPlaces;)
            sortBucket(keys.data() + start[b], bucketed.data() + start[b], start[b + 1] - start[b], shift, places);
    });
    spare = std::move(bucketed); // a table as large as the keys, already in memory
}

void sortKeys(TableVector<Key128> &keys, int, TableVector<quint64> &)
{
    inTwoHalves(keys.size(), [&keys](size_t from, size_t to) {
        std::sort(keys.begin() + qsizetype(from), keys.begin() + qsizetype(to));
    });
    std::inplace_merge(keys.begin(), keys.begin() + qsizetype(keys.size() / 2), keys.end());
}

// Moves the keys into the list, in its own kind of key.
void keepKeys(PhraseList &out, TableVector<quint64> &&keys)
{
    out.keys = std::move(keys);
}

void keepKeys(PhraseList &out, TableVector<Key128> &&keys)
{
    out.wide = true;
    out.wideKeys = std::move(keys);
}

// The phrases of tally as keys of the ranks of their words, sorted and counted.
// With files, each key ends with its phrase's file: a phrase's keys then lie side by side, one
// run of equal keys per file. The distinct phrases' keys are gathered at the front of the sorted
// keys, which become the list's: no second table of millions of entries.
template<typename Key>
void countKeys(HashTally &tally, PhraseList &out, const std::vector<quint32> &textRank,
               const std::vector<quint32> &spaceRank, int fileBits, bool filePairs)
{
    const int length = out.length;
    const size_t stride = size_t(length) + (fileBits ? 1 : 0);
    // Each block's keys have their place: the blocks are turned into keys on both cores.
    const std::vector<TableVector<quint32>> &blocks = tally.sequences();
    std::vector<size_t> first(blocks.size() + 1);
    for (size_t b = 0; b < blocks.size(); ++b)
        first[b + 1] = first[b] + blocks[b].size() / stride;
    TableVector<Key> keys(first.back());
    std::atomic<size_t> next{0};
    eachHalf(keys.size(), [&](size_t) {
        for (size_t b; (b = next.fetch_add(1)) < blocks.size();) {
            const TableVector<quint32> &block = blocks[b];
            Key *to = keys.data() + first[b];
            for (size_t at = 0; at + stride <= block.size(); at += stride) {
                Key key = 0;
                for (int i = 0; i < length; ++i) {
                    const quint32 id = block[at + size_t(i)];
                    key = key << out.bits | (i + 1 < length ? spaceRank[id] : textRank[id]);
                }
                if (fileBits)
                    key = key << fileBits | block[at + size_t(length)];
                *to++ = key;
            }
        }
    });
    tally.reset(); // the phrases are in keys now
    TableVector<quint64> spare;
    sortKeys(keys, out.bits * length + fileBits, spare);
    if (spare.capacity() >= keys.size()) { // the counts, fewer than the keys, fit in the spare
        spare.clear();
        out.counts.swap(spare);
    }
    const auto phrase = [fileBits](Key key) { return key >> fileBits; };
    size_t distinct = 0;
    for (size_t i = 0; i < keys.size(); ++i)
        distinct += i == 0 || phrase(keys[i]) != phrase(keys[i - 1]);
    out.counts.reserve(distinct);
    if (fileBits)
        out.files.reserve(distinct);
    const Key fileMask = (Key(1) << fileBits) - 1;
    size_t kept = 0;
    for (size_t i = 0; i < keys.size();) {
        size_t j = i + 1;
        quint32 files = 1;
        if (filePairs)
            out.filePairs.push_back(quint64(kept) << 32 | quint32(keys[i] & fileMask));
        for (; j < keys.size() && phrase(keys[j]) == phrase(keys[i]); ++j) {
            if (keys[j] != keys[j - 1]) {
                ++files;
                if (filePairs)
                    out.filePairs.push_back(quint64(kept) << 32 | quint32(keys[j] & fileMask));
            }
        }
        out.counts.push_back(j - i);
        if (fileBits)
            out.files.push_back(files);
        out.total += qint64(j - i);
        keys[kept++] = phrase(keys[i]); // kept <= i: nothing still to be read is overwritten
        i = j;
    }
    keys.resize(kept);
    keepKeys(out, std::move(keys));
}

// As countKeys(), for phrases whose words' ranks fill a key by themselves (millions of distinct
// words): each file is kept beside its key instead of in it, and the pairs are compared whole.
void countKeysBesideFiles(HashTally &tally, PhraseList &out, const std::vector<quint32> &textRank,
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
    TableVector<Key128> phrases;
    for (size_t i = 0; i < keys.size();) {
        size_t j = i;
        quint32 files = 0;
        for (; j < keys.size() && keys[j].first == keys[i].first; ++j) {
            if (j == i || keys[j].second != keys[j - 1].second) {
                ++files;
                if (filePairs)
                    out.filePairs.push_back(quint64(phrases.size()) << 32 | keys[j].second);
            }
        }
        phrases.push_back(keys[i].first);
        out.counts.push_back(j - i);
        out.files.push_back(files);
        out.total += qint64(j - i);
        i = j;
    }
    keepKeys(out, std::move(phrases));
}

} // namespace

std::shared_ptr<PhraseList> countPhrases(HashTally &tally, const WordIds &ids, int length,
                                         quint32 lastFile, bool filePairs)
{
    // A phrase's text is its words, each but the last followed by a space, and no word holds a
    // space: phrases are ordered as the tuples of their words, the words but the last ordered as
    // if followed by a space. Each word gets its two ranks once, and phrases compare as numbers.
    auto list = std::make_shared<PhraseList>();
    PhraseList &out = *list;
    out.length = length;
    out.text.assign(ids.text().begin(), ids.text().end());
    const size_t words = ids.size();
    std::vector<quint32> byText(words), bySpace(words);
    std::iota(byText.begin(), byText.end(), 0u);
    std::iota(bySpace.begin(), bySpace.end(), 0u);
    const auto sortByText = [&] {
        std::sort(byText.begin(), byText.end(), [&](quint32 a, quint32 b) { return ids.word(a) < ids.word(b); });
    };
    const auto sortBySpace = [&] {
        std::sort(bySpace.begin(), bySpace.end(),
                  [&](quint32 a, quint32 b) { return lessWithSpace(ids.word(a), ids.word(b)); });
    };
    if (words < 65536) {
        sortByText();
        sortBySpace();
    } else {
        onTwoThreads(sortByText, sortBySpace);
    }
    out.text.insert(out.text.end(), PhraseList::kSlack, 0);
    std::vector<quint32> textRank(words), spaceRank(words);
    out.byText.resize(words);
    out.bySpace.resize(words);
    out.byTextLength.resize(words);
    out.bySpaceLength.resize(words);
    const auto shortLength = [](std::u16string_view w) {
        return quint16(std::min<size_t>(w.size(), PhraseList::kLongWord));
    };
    const std::vector<size_t> &starts = ids.starts();
    const auto view = [&](quint32 id) {
        return std::u16string_view(out.text.data() + starts[id], starts[id + 1] - starts[id]);
    };
    for (size_t r = 0; r < words; ++r) {
        textRank[byText[r]] = quint32(r);
        spaceRank[bySpace[r]] = quint32(r);
        out.byText[r] = view(byText[r]);
        out.bySpace[r] = view(bySpace[r]);
        out.byTextLength[r] = shortLength(out.byText[r]);
        out.bySpaceLength[r] = shortLength(out.bySpace[r]);
    }
    out.bits = 1;
    while (out.bits < 32 && (quint64(1) << out.bits) < words)
        ++out.bits;
    int fileBits = 0;
    if (tally.hasFileMarks()) {
        fileBits = 1;
        while (fileBits < 32 && (quint64(1) << fileBits) <= lastFile)
            ++fileBits;
    }
    const int width = out.bits * length + fileBits;
    if (out.bits * length > 128)
        throw std::length_error("Too many distinct words to order their phrases.");
    if (width > 128)
        countKeysBesideFiles(tally, out, textRank, spaceRank, filePairs);
    else if (width <= 64)
        countKeys<quint64>(tally, out, textRank, spaceRank, fileBits, filePairs);
    else
        countKeys<Key128>(tally, out, textRank, spaceRank, fileBits, filePairs);
    return list;
}

namespace {

// Phrases are ordered by count, ties in the order they are in. Counts are mostly small: a bucket
// each; the few large ones share the last bucket and are then sorted apart (sortLargeCounts()).
constexpr quint64 kSmallCount = 1 << 16;

size_t countBucket(quint64 count)
{
    return size_t(std::min(count, kSmallCount));
}

// Sorts the last bucket's items, [from, end) of items, by the counts countOf gives them (stably).
template<typename Items, typename CountOf>
void sortLargeCounts(Items &items, size_t from, const CountOf &countOf)
{
    std::stable_sort(items.begin() + qsizetype(from), items.end(),
                     [&](const auto &a, const auto &b) { return countOf(a) < countOf(b); });
}

} // namespace

std::vector<quint32> phraseOrder(const PhraseList &list)
{
    const size_t n = list.size();
    const auto bucket = [&](size_t i) { return countBucket(list.counts[i]); };
    const auto places = bucketPlaces(n, size_t(kSmallCount) + 1, bucket);
    const size_t large = places[0][size_t(kSmallCount)];
    std::vector<quint32> order(n);
    moveToPlaces(n, places, bucket, [&](size_t i, size_t to) { order[to] = quint32(i); });
    sortLargeCounts(order, large, [&](quint32 i) { return list.counts[i]; });
    return order;
}

void orderByCount(PhraseList &list)
{
    // As phraseOrder(), each phrase moved straight to its place: every table is read once in the
    // order it is in, and the places of each count are filled one after the other. The keys move
    // first; the counts then move into the table the keys left.
    const size_t n = list.size();
    const auto bucket = [&](size_t i) { return countBucket(list.counts[i]); };
    const auto places = bucketPlaces(n, size_t(kSmallCount) + 1, bucket);
    const size_t large = places[0][size_t(kSmallCount)];
    // The large counts in the order they arrive in their bucket, and in the order they go.
    std::vector<quint32> largeOrder(n - large);
    std::iota(largeOrder.begin(), largeOrder.end(), 0u);
    {
        std::vector<quint64> largeCounts;
        for (size_t i = 0; i < n; ++i) {
            if (list.counts[i] >= kSmallCount)
                largeCounts.push_back(list.counts[i]);
        }
        sortLargeCounts(largeOrder, 0, [&](quint32 j) { return largeCounts[j]; });
    }
    const auto move = [&](const auto &items, auto &moved) {
        moveToPlaces(n, places, bucket, [&](size_t i, size_t to) { moved[to] = items[i]; });
        const std::vector<std::decay_t<decltype(moved[0])>> arrived(moved.begin() + qsizetype(large), moved.end());
        for (size_t j = 0; j < largeOrder.size(); ++j)
            moved[large + j] = arrived[largeOrder[j]];
    };
    if (!list.files.empty()) {
        TableVector<quint32> files(n);
        move(list.files, files);
        list.files.swap(files);
    }
    TableVector<quint64> counts;
    if (list.wide) {
        TableVector<PhraseKey128> keys(n);
        move(list.wideKeys, keys);
        list.wideKeys.swap(keys);
        counts.resize(n);
    } else {
        TableVector<quint64> keys(n);
        move(list.keys, keys);
        list.keys.swap(keys);
        counts.swap(keys); // the keys' old table, as large
        counts.resize(n);
    }
    move(list.counts, counts);
    list.counts.swap(counts);
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
