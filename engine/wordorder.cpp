#include "engine/hashtally.h"

#include <algorithm>
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
