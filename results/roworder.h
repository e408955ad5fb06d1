#pragma once

#include "engine/countedrows.h"

#include <vector>

namespace corvalen {

/// Orders of the rows of one block (one file's, or the combined count).
enum class RowOrder {
    Count, // the usual order: count ascending, ties by UTF-16 code units
    CountDescending, // count descending, ties in the usual order
    Word, // alphabetical by the Unicode root collation, ties by UTF-16 code units
    WordDescending, // reverse alphabetical, ties by UTF-16 code units
};

/// Reorders a block that is in the usual order, as a run hands it over. The alphabetical orders
/// use ICU's root locale, so that they are the same on every machine whatever its language.
void orderBlock(CountedRows &rows, RowOrder order);
void orderBlock(std::vector<WordCount> &rows, RowOrder order);

} // namespace corvalen
