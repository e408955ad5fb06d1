#include "corpus/collation.h"

#include "engine/twohalves.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvalen {

namespace {

struct CollatorCloser
{
    void operator()(UCollator *c) const { ucol_close(c); }
};
using Collator = std::unique_ptr<UCollator, CollatorCloser>;

Collator rootCollator()
{
    UErrorCode status = U_ZERO_ERROR;
    Collator collator(ucol_open("", &status));
    if (U_FAILURE(status))
        throw std::runtime_error("The Unicode collation could not be loaded.");
    return collator;
}

// The sort key of text, without its terminating zero; keys compare as bytes.
std::string sortKey(UCollator *collator, QStringView text)
{
    const auto *units = reinterpret_cast<const UChar *>(text.utf16());
    const int32_t n = int32_t(std::min<qsizetype>(text.size(), INT32_MAX));
    std::string key(size_t(n) * 4 + 16, '\0');
    for (;;) {
        const int32_t made = ucol_getSortKey(collator, units, n, reinterpret_cast<uint8_t *>(key.data()),
                                             int32_t(std::min<size_t>(key.size(), INT32_MAX)));
        if (made <= 0)
            throw std::runtime_error("A text could not be collated.");
        if (size_t(made) <= key.size()) {
            key.resize(size_t(made) - 1);
            return key;
        }
        key.resize(size_t(made));
    }
}

} // namespace

std::vector<quint32> collationRanks(const QStringList &texts)
{
    const size_t n = size_t(texts.size());
    std::vector<std::string> keys(n);
    // Keys are made on both cores, each thread with a collator of its own.
    const auto make = [&](size_t from, size_t to) {
        const Collator collator = rootCollator();
        for (size_t i = from; i < to; ++i)
            keys[i] = sortKey(collator.get(), texts.at(qsizetype(i)));
    };
    if (n > 20000)
        onTwoThreads([&] { make(n / 2, n); }, [&] { make(0, n / 2); });
    else
        make(0, n);
    std::vector<quint32> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](quint32 a, quint32 b) { return keys[a] < keys[b]; });
    std::vector<quint32> ranks(n);
    quint32 rank = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && keys[order[i]] != keys[order[i - 1]])
            ++rank;
        ranks[order[i]] = rank;
    }
    return ranks;
}

int compareCollated(QStringView a, QStringView b)
{
    thread_local Collator collator = rootCollator();
    const UCollationResult r = ucol_strcoll(collator.get(), reinterpret_cast<const UChar *>(a.utf16()),
                                            int32_t(std::min<qsizetype>(a.size(), INT32_MAX)),
                                            reinterpret_cast<const UChar *>(b.utf16()),
                                            int32_t(std::min<qsizetype>(b.size(), INT32_MAX)));
    if (r != UCOL_EQUAL)
        return r == UCOL_LESS ? -1 : 1;
    return a.compare(b);
}

} // namespace corvalen
