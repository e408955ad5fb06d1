#include "results/roworder.h"

#include "engine/twohalves.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace corvalen {

namespace {

struct CollatorCloser
{
    void operator()(UCollator *c) const { ucol_close(c); }
};

std::unique_ptr<UCollator, CollatorCloser> rootCollator()
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCollator, CollatorCloser> collator(ucol_open("", &status));
    if (U_FAILURE(status))
        throw std::runtime_error("The Unicode collation could not be loaded.");
    return collator;
}

struct Keyed
{
    size_t offset; // of the sort key in the shared buffer
    size_t length;
    size_t row;
};

// Sort keys of rows [from, to), side by side in one buffer; keys compare as bytes.
void makeKeys(const CountedRows &rows, size_t from, size_t to, std::vector<Keyed> &keyed,
              std::string &bytes)
{
    const auto collator = rootCollator();
    bytes.reserve((to - from) * 16);
    QString scratch;
    for (size_t i = from; i < to; ++i) {
        const QStringView w = rows.word(i, scratch);
        const auto *text = reinterpret_cast<const UChar *>(w.utf16());
        const int32_t units = int32_t(std::min<qsizetype>(w.size(), INT32_MAX));
        const size_t at = bytes.size();
        size_t room = size_t(units) * 4 + 16;
        for (;;) {
            bytes.resize(at + room);
            const int32_t n = ucol_getSortKey(collator.get(), text, units,
                                              reinterpret_cast<uint8_t *>(bytes.data() + at),
                                              int32_t(std::min<size_t>(room, INT32_MAX)));
            if (n <= 0)
                throw std::runtime_error("A word could not be collated.");
            if (size_t(n) <= room) {
                bytes.resize(at + size_t(n) - 1); // without the key's terminating zero
                break;
            }
            room = size_t(n);
        }
        keyed.push_back({at, bytes.size() - at, i});
    }
}

} // namespace

void orderBlock(CountedRows &rows, RowOrder order)
{
    if (order == RowOrder::Count || rows.size() < 2)
        return;
    std::vector<size_t> reordered(rows.size());
    if (order == RowOrder::CountDescending) {
        // The runs of equal counts are taken last to first, each keeping its words' order.
        size_t out = 0;
        for (size_t end = rows.size(); end > 0;) {
            size_t start = end - 1;
            while (start > 0 && rows.count(start - 1) == rows.count(end - 1))
                --start;
            for (size_t i = start; i < end; ++i)
                reordered[out++] = i;
            end = start;
        }
        rows.reorder(reordered);
        return;
    }
    // Sort keys are made once per word, on two threads for large blocks, then compared as bytes.
    const size_t half = rows.size() >= 20000 ? rows.size() / 2 : rows.size();
    std::vector<Keyed> first, second;
    std::string firstBytes, secondBytes;
    first.reserve(half);
    second.reserve(rows.size() - half);
    if (half < rows.size())
        onTwoThreads([&] { makeKeys(rows, half, rows.size(), second, secondBytes); },
                     [&] { makeKeys(rows, 0, half, first, firstBytes); });
    else
        makeKeys(rows, 0, half, first, firstBytes);
    // Offsets of the second half point into their own buffer: join the buffers.
    const size_t shift = firstBytes.size();
    firstBytes += secondBytes;
    for (Keyed &k : second)
        k.offset += shift;
    first.insert(first.end(), second.begin(), second.end());
    const std::string_view all(firstBytes);
    const bool descending = order == RowOrder::WordDescending;
    QString a, b;
    std::sort(first.begin(), first.end(), [&](const Keyed &x, const Keyed &y) {
        const int c = all.substr(x.offset, x.length).compare(all.substr(y.offset, y.length));
        if (c != 0)
            return descending ? c > 0 : c < 0;
        return rows.word(x.row, a) < rows.word(y.row, b);
    });
    for (size_t i = 0; i < first.size(); ++i)
        reordered[i] = first[i].row;
    rows.reorder(reordered);
}

void orderBlock(std::vector<WordCount> &rows, RowOrder order)
{
    CountedRows held(std::move(rows));
    orderBlock(held, order);
    rows = held.takeRows();
}

} // namespace corvalen
