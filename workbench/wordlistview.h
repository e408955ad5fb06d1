#pragma once

#include "corpus/wordpattern.h"
#include "workbench/wordlistindex.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvalen {

struct WordListDispersion;

/// What a list can be ordered by.
enum class WordListKey { File, Word, Count, Files, PerMillion, JuillandD, DP };

/// The rows of list in the order asked for; ties always in the usual order. Linear in the rows:
/// the index has ranked the words already. Word and File need the index's collation; Juilland's D
/// and DP the dispersion of a combined list's rows (without it: the usual order).
std::vector<qint32> orderedRows(const WordListIndex &index, const WordListRows &list, WordListKey key,
                                Qt::SortOrder order, const WordListDispersion *dispersion = nullptr);

/// The find field's text and options.
struct FindQuery
{
    QString text;
    bool matchCase = false;
    bool wholeWord = false; // the text matches the whole word, not a part of it
    bool regularExpression = false;

    bool isEmpty() const { return text.isEmpty(); }
    friend bool operator==(const FindQuery &, const FindQuery &) = default;
};

/// Tells whether a word matches a FindQuery. One per thread (an expression is matched with the
/// thread's own state).
class WordMatcher
{
public:
    /// std::nullopt, with error set, for an invalid regular expression.
    static std::optional<WordMatcher> make(const FindQuery &findQuery, QString *error = nullptr);
    bool matches(QStringView word) const;

private:
    FindQuery m_findQuery;
    std::optional<WordPattern> m_expression;
    std::shared_ptr<PatternMatcher> m_matcher;
};

/// Which distinct words of the index match findQuery (one flag per word), on two threads. Returns
/// std::nullopt when cancelled (checked now and then) or when findQuery is invalid.
std::optional<std::vector<char>> matchWords(const WordListIndex &index, const FindQuery &findQuery,
                                            const std::function<bool()> &cancelled = {});

/// The rows of order whose word matches.
std::vector<qint32> filterRows(const std::vector<qint32> &order, const WordListRows &list,
                               const std::vector<char> &matches);

} // namespace corvalen
