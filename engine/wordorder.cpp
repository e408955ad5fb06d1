#include "engine/hashtally.h"
#include "engine/tallyrules.h"
#include "engine/twohalves.h"
#include "engine/utf8.h"
#include "engine/wordrules.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
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

// A word while the words are ranked: its first four units (with the space after it, when
// followed by one) packed so that comparing them as numbers orders them as text; only words
// that begin alike are read whole. Hundreds of thousands of words lie all over their table.
struct RankItem
{
    quint64 prefix;
    quint32 id;
};

// The numbers of the words in the order of their text, or of their text followed by a space;
// sorted in two halves on two threads when there are many.
std::vector<quint32> wordOrder(const WordIds &ids, bool withSpace)
{
    const size_t words = ids.size();
    std::vector<RankItem> items(words);
    for (quint32 id = 0; id < words; ++id) {
        const std::u16string_view w = ids.word(id);
        quint64 prefix = 0;
        for (size_t i = 0; i < 4; ++i)
            prefix = prefix << 16 | (i < w.size() ? w[i] : i == w.size() && withSpace ? u' ' : 0);
        items[id] = {prefix, id};
    }
    const auto less = [&](const RankItem &a, const RankItem &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return withSpace ? lessWithSpace(ids.word(a.id), ids.word(b.id)) : ids.word(a.id) < ids.word(b.id);
    };
    inTwoHalves(words, [&](size_t from, size_t to) {
        std::sort(items.begin() + qsizetype(from), items.begin() + qsizetype(to), less);
    });
    std::inplace_merge(items.begin(), items.begin() + qsizetype(words / 2), items.end(), less);
    std::vector<quint32> order(words);
    for (size_t r = 0; r < words; ++r)
        order[r] = items[r].id;
    return order;
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

// How a phrase's key is made: the ranks of its words, the last by its text and the others by
// their text followed by a space, then its file with file marks.
struct WordRanks
{
    quint32 text;
    quint32 space;
};

template<typename Key>
struct PhraseKeys
{
    const std::vector<WordRanks> &ranks; // a word's two side by side: one fetch from memory
    int length;
    int bits;
    int fileBits;
};

// Reads the phrases of a block of word numbers (HashTally::addPhraseWord()): key(phrase's key,
// its file) for each, in order. The key is made as the words come, each word's ranks looked up
// once: the ranks of the words before the last, shifted along, and the last word's.
template<typename Key, typename Take>
void forEachKey(const TableVector<quint32> &block, const PhraseKeys<Key> &keys, const Take &take)
{
    const int before = keys.length - 1;
    const Key beforeMask = (Key(1) << (keys.bits * before)) - 1;
    Key words = 0; // the ranks of the last words, as those before a phrase's last
    int filled = 0; // how many of them there are (at most before)
    quint32 file = 0;
    for (size_t at = 0; at < block.size(); ++at) {
        const quint32 word = block[at];
        if (word >= HashTally::kPhraseFile) [[unlikely]] {
            if (word == HashTally::kPhraseGap)
                filled = 0;
            else
                file = block[++at];
            continue;
        }
        if (filled == before) {
            const Key key = words << keys.bits | keys.ranks[word].text;
            take(keys.fileBits ? key << keys.fileBits | file : key, file);
        } else {
            ++filled;
        }
        words = (words << keys.bits | keys.ranks[word].space) & beforeMask;
    }
}

// Runs work(block) for every block of tally on both cores.
template<typename Work>
void forEachBlock(const HashTally &tally, const Work &work)
{
    std::atomic<size_t> next{0};
    eachHalf(size_t(tally.sequenceCount()), [&](size_t) {
        for (size_t b; (b = next.fetch_add(1)) < tally.sequences().size();)
            work(b);
    });
}

// The keys of the phrases of tally, block after block; the blocks are read on both cores.
template<typename Key>
TableVector<Key> phraseKeys(const HashTally &tally, const PhraseKeys<Key> &how)
{
    const std::vector<TableVector<quint32>> &blocks = tally.sequences();
    std::vector<size_t> first(blocks.size() + 1);
    forEachBlock(tally, [&](size_t b) {
        size_t n = 0;
        forEachKey(blocks[b], how, [&n](Key, quint32) { ++n; });
        first[b + 1] = n;
    });
    std::partial_sum(first.begin(), first.end(), first.begin());
    TableVector<Key> keys(first.back());
    forEachBlock(tally, [&](size_t b) {
        Key *to = keys.data() + first[b];
        forEachKey(blocks[b], how, [&to](Key key, quint32) { *to++ = key; });
    });
    return keys;
}

// The keys of the phrases of tally (emptied), sorted. Keys of up to 64 bits are made straight
// into the buckets of their top 11 bits, the word numbers read twice (once to count each
// bucket's keys): no table of the keys in their first order, whose fresh memory would cost more
// than making them again. The buckets, most of them small enough to stay in the cache, are then
// sorted one by one on both cores.
TableVector<quint64> sortedKeys(HashTally &tally, const PhraseKeys<quint64> &how, int width)
{
    constexpr int kDigit = 11;
    constexpr size_t kPlaces = size_t(1) << kDigit;
    if (tally.sequenceCount() < 65536 || width <= 2 * kDigit) {
        TableVector<quint64> keys = phraseKeys(tally, how);
        tally.reset();
        radixSort(keys, width);
        return keys;
    }
    const int shift = width - kDigit;
    // The first half of the blocks counted and moved on one thread, the second on the other.
    const std::vector<TableVector<quint32>> &blocks = tally.sequences();
    const auto inHalf = [&](size_t half, const auto &work) {
        for (size_t b = half ? blocks.size() / 2 : 0, end = half ? blocks.size() : blocks.size() / 2; b < end; ++b)
            forEachKey(blocks[b], how, work);
    };
    std::array<std::vector<size_t>, 2> at{std::vector<size_t>(kPlaces), std::vector<size_t>(kPlaces)};
    eachHalf(size_t(tally.sequenceCount()), [&](size_t half) {
        std::vector<size_t> &count = at[half];
        inHalf(half, [&](quint64 key, quint32) { ++count[size_t(key >> shift)]; });
    });
    std::vector<size_t> start(kPlaces + 1);
    size_t sum = 0;
    for (size_t b = 0; b < kPlaces; ++b) {
        start[b] = sum;
        for (std::vector<size_t> &places : at)
            sum += std::exchange(places[b], sum);
    }
    start[kPlaces] = sum;
    TableVector<quint64> keys(sum);
    eachHalf(keys.size(), [&](size_t half) {
        std::vector<size_t> &places = at[half];
        inHalf(half, [&](quint64 key, quint32) { keys[places[size_t(key >> shift)]++] = key; });
    });
    tally.reset(); // the phrases are in keys now
    std::atomic<size_t> next{0};
    eachHalf(keys.size(), [&](size_t) {
        std::vector<size_t> places;
        std::vector<quint64> scratch; // as large as the largest bucket sorted here
        for (size_t b; (b = next.fetch_add(1)) < kPlaces;) {
            const size_t n = start[b + 1] - start[b];
            if (n >= 256 && scratch.size() < n)
                scratch.resize(n);
            sortBucket(keys.data() + start[b], scratch.data(), n, shift, places);
        }
    });
    return keys;
}

TableVector<Key128> sortedKeys(HashTally &tally, const PhraseKeys<Key128> &how, int)
{
    TableVector<Key128> keys = phraseKeys(tally, how);
    tally.reset();
    inTwoHalves(keys.size(), [&keys](size_t from, size_t to) {
        std::sort(keys.begin() + qsizetype(from), keys.begin() + qsizetype(to));
    });
    std::inplace_merge(keys.begin(), keys.begin() + qsizetype(keys.size() / 2), keys.end());
    return keys;
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
void countKeys(HashTally &tally, PhraseList &out, const std::vector<WordRanks> &ranks, int fileBits,
               bool filePairs)
{
    const PhraseKeys<Key> how{ranks, out.length, out.bits, fileBits};
    TableVector<Key> keys = sortedKeys(tally, how, out.bits * out.length + fileBits);
    const auto phrase = [fileBits](Key key) { return key >> fileBits; };
    const Key fileMask = (Key(1) << fileBits) - 1;
    // Each half of the keys (cut between two phrases) is counted on a thread of its own, its
    // distinct phrases gathered at its own front; the second half's then move next to the first's.
    // The file pairs, asked for with stems only, come one after the other: in one half.
    const size_t n = keys.size();
    size_t middle = filePairs || n < 65536 ? n : n / 2;
    while (middle < n && phrase(keys[middle]) == phrase(keys[middle - 1]))
        ++middle;
    const size_t bounds[3] = {0, middle, n};
    size_t distinct[2] = {0, 0};
    eachHalf(n, [&](size_t half) {
        for (size_t i = bounds[half]; i < bounds[half + 1]; ++i)
            distinct[half] += i == bounds[half] || phrase(keys[i]) != phrase(keys[i - 1]);
    });
    out.counts.resize(distinct[0] + distinct[1]);
    if (fileBits)
        out.files.resize(out.counts.size());
    qint64 totals[2] = {0, 0};
    // Measured as they go by, for the layouts' widths: the lengths of the phrases' texts and the
    // largest numbers (see PhraseList::lengths).
    PhraseList::Measures measures[2];
    const Key rankMask = (Key(1) << out.bits) - 1;
    const auto textLength = [&](Key key) {
        size_t units = size_t(out.length - 1) + out.byTextLength[size_t(key & rankMask)];
        for (int w = 1; w < out.length; ++w)
            units += out.bySpaceLength[size_t((key >> (out.bits * w)) & rankMask)];
        return std::min<size_t>(units, PhraseList::kLongestMeasured);
    };
    eachHalf(n, [&](size_t half) {
        const size_t end = bounds[half + 1];
        size_t kept = bounds[half];
        size_t row = half ? distinct[0] : 0;
        PhraseList::Measures &measured = measures[half];
        for (size_t i = bounds[half]; i < end;) {
            size_t j = i + 1;
            quint32 files = 1;
            if (filePairs)
                out.filePairs.push_back(quint64(row) << 32 | quint32(keys[i] & fileMask));
            for (; j < end && phrase(keys[j]) == phrase(keys[i]); ++j) {
                if (keys[j] != keys[j - 1]) {
                    ++files;
                    if (filePairs)
                        out.filePairs.push_back(quint64(row) << 32 | quint32(keys[j] & fileMask));
                }
            }
            out.counts[row] = j - i;
            if (fileBits)
                out.files[row] = files;
            ++row;
            totals[half] += qint64(j - i);
            ++measured.lengths[textLength(phrase(keys[i]))];
            measured.largestCount = std::max<quint64>(measured.largestCount, j - i);
            measured.largestFiles = std::max(measured.largestFiles, fileBits ? files : 0);
            keys[kept++] = phrase(keys[i]); // kept <= i: nothing still to be read is overwritten
            i = j;
        }
    });
    out.total = totals[0] + totals[1];
    out.measures = measures[0];
    out.measures.add(measures[1]);
    out.measured = true;
    std::memmove(keys.data() + distinct[0], keys.data() + middle, distinct[1] * sizeof(Key));
    const size_t kept = distinct[0] + distinct[1];
    keys.resize(kept);
    keepKeys(out, std::move(keys));
}

// As countKeys(), for phrases whose words' ranks fill a key by themselves (millions of distinct
// words): each file is kept beside its key instead of in it, and the pairs are compared whole.
void countKeysBesideFiles(HashTally &tally, PhraseList &out, const std::vector<WordRanks> &ranks,
                          bool filePairs)
{
    const PhraseKeys<Key128> how{ranks, out.length, out.bits, 0};
    TableVector<std::pair<Key128, quint32>> keys;
    keys.reserve(size_t(tally.sequenceCount()));
    for (const TableVector<quint32> &block : tally.sequences())
        forEachKey(block, how, [&keys](Key128 key, quint32 file) { keys.emplace_back(key, file); });
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

// The words of out in UTF-8 (PhraseList::byText8), unless one is too long for the records.
void keepUtf8(PhraseList &out, bool spaceOrdersAlike, const std::vector<quint32> &bySpace,
              const std::vector<WordRanks> &ranks)
{
    using Utf8Word = PhraseList::Utf8Word;
    const size_t words = out.byText.size();
    constexpr size_t kMaxUnits = 0xffff / 3;
    size_t longBytes = 0; // room for the long words in text8
    for (size_t r = 0; r < words; ++r) {
        if (out.byText[r].size() > kMaxUnits)
            return;
        if (out.byText[r].size() > Utf8Word::kInline / 3)
            longBytes += 3 * out.byText[r].size();
    }
    if (longBytes > std::numeric_limits<quint32>::max() - PhraseList::kSlack)
        return;
    out.text8.resize(longBytes + PhraseList::kSlack);
    out.byText8.resize(words);
    char *const text8 = out.text8.data();
    char *p = text8;
    std::vector<char> encoded(3 * kMaxUnits);
    char *const word = encoded.data();
    for (size_t r = 0; r < words; ++r) {
        const std::u16string_view w = out.byText[r];
        const size_t bytes = size_t(putUtf8(word, QStringView(w.data(), qsizetype(w.size()))) - word);
        Utf8Word &record = out.byText8[r];
        record = {{}, quint16(bytes), quint16(w.size())};
        if (bytes <= Utf8Word::kInline) {
            std::memcpy(record.text, word, bytes);
        } else {
            const quint32 at = quint32(p - text8);
            std::memcpy(record.text, &at, sizeof at);
            p = std::copy_n(word, bytes, p);
        }
    }
    std::fill(p, text8 + out.text8.size(), '\0');
    out.text8.resize(size_t(p - text8) + PhraseList::kSlack);
    out.spaceOrdersAlike = spaceOrdersAlike;
    if (spaceOrdersAlike)
        return;
    out.bySpace8.resize(words);
    for (size_t r = 0; r < words; ++r)
        out.bySpace8[r] = out.byText8[ranks[bySpace[r]].text];
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
    std::vector<quint32> byText = wordOrder(ids, false), bySpace;
    // A word before a space orders as the word alone unless some word goes on, past another
    // word's length, with a unit below the space (a tab, a control character): rare.
    const bool spaceOrdersAlike = std::none_of(ids.text().begin(), ids.text().end(), [](char16_t c) { return c < 32; });
    bySpace = spaceOrdersAlike ? byText : wordOrder(ids, true);
    out.text.insert(out.text.end(), PhraseList::kSlack, 0);
    std::vector<WordRanks> ranks(words);
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
        ranks[byText[r]].text = quint32(r);
        ranks[bySpace[r]].space = quint32(r);
        out.byText[r] = view(byText[r]);
        out.bySpace[r] = view(bySpace[r]);
        out.byTextLength[r] = shortLength(out.byText[r]);
        out.bySpaceLength[r] = shortLength(out.bySpace[r]);
    }
    keepUtf8(out, spaceOrdersAlike, bySpace, ranks);
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
        countKeysBesideFiles(tally, out, ranks, filePairs);
    else if (width <= 64)
        countKeys<quint64>(tally, out, ranks, fileBits, filePairs);
    else
        countKeys<Key128>(tally, out, ranks, fileBits, filePairs);
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
