#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <vector>

namespace corvalen {

/// The ranks of texts in the Unicode root collation (ICU's root locale, the same on every machine
/// whatever its language), from 0: texts that collate equal share a rank. The corpus tools order
/// words, phrases and file names by it.
std::vector<quint32> collationRanks(const QStringList &texts);

/// Compares two texts in the Unicode root collation, ties by UTF-16 code units: < 0, 0 or > 0.
int compareCollated(QStringView a, QStringView b);

/// Sorts items by before (a strict weak order), items that it leaves equal by the Unicode root
/// collation of text(item), ties by UTF-16 code units; then keeps the first `top` (all when
/// negative). Only the runs of equal items are collated, and with a top only those that can be
/// among it: a list of a million collocates or clusters is mostly ordered by its numbers.
template<typename T, typename Before, typename Text>
void sortThenCollate(std::vector<T> &items, Before before, Text text, qint64 top = -1)
{
    std::stable_sort(items.begin(), items.end(), before);
    const auto equal = [&](const T &a, const T &b) { return !before(a, b) && !before(b, a); };
    if (top >= 0 && qint64(items.size()) > top) {
        size_t keep = size_t(top);
        while (keep > 0 && keep < items.size() && equal(items[keep], items[keep - 1]))
            ++keep;
        items.resize(keep);
    }
    for (size_t from = 0; from < items.size();) {
        size_t to = from + 1;
        while (to < items.size() && equal(items[to], items[from]))
            ++to;
        if (to - from > 1) {
            QStringList texts;
            texts.reserve(qsizetype(to - from));
            for (size_t i = from; i < to; ++i)
                texts.append(text(items[i]));
            const std::vector<quint32> ranks = collationRanks(texts);
            std::vector<size_t> order(to - from);
            for (size_t i = 0; i < order.size(); ++i)
                order[i] = i;
            std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return ranks[a] != ranks[b] ? ranks[a] < ranks[b] : texts.at(qsizetype(a)) < texts.at(qsizetype(b));
            });
            std::vector<T> sorted;
            sorted.reserve(to - from);
            for (const size_t i : order)
                sorted.push_back(std::move(items[from + i]));
            std::move(sorted.begin(), sorted.end(), items.begin() + qsizetype(from));
        }
        from = to;
    }
    if (top >= 0 && qint64(items.size()) > top)
        items.resize(size_t(top));
}

} // namespace corvalen
