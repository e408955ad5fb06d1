#pragma once

#include "engine/analysisrun.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string_view>
#include <vector>

namespace corvalen {

/// Words with their frequencies: a count of a corpus, or a published frequency list. The words
/// lie side by side in one buffer: a list of a million words is not a million strings.
class FrequencyList
{
public:
    void add(QStringView word, qint64 count)
    {
        m_text.insert(m_text.end(), word.utf16(), word.utf16() + word.size());
        m_ends.push_back(m_text.size());
        m_counts.push_back(count);
        total += count;
    }
    void reserve(size_t words, size_t units)
    {
        m_ends.reserve(words);
        m_counts.reserve(words);
        m_text.reserve(units);
    }
    size_t size() const { return m_counts.size(); }
    QStringView word(size_t i) const
    {
        const size_t start = i == 0 ? 0 : m_ends[i - 1];
        return QStringView(m_text.data() + start, qsizetype(m_ends[i] - start));
    }
    qint64 count(size_t i) const { return m_counts[i]; }

    qint64 total = 0; ///< the corpus's words: the sum of the counts
    qint64 files = 0; ///< the files counted (0 for a list read from a file)

private:
    std::vector<char16_t> m_text;
    std::vector<size_t> m_ends;
    std::vector<qint64> m_counts;
};

/// A combined count of files with options' rules, read from source, as a frequency list: what a
/// keyword list compares (the target, a reference of files). Its files are those counted; one that
/// could not be read is left out and reported to reporter.
FrequencyList countFrequencies(const QStringList &files, const CountOptions &options, TextSource &source,
                               Progress *progress = nullptr, ErrorReporter *reporter = nullptr);

/// Reads a word list as `corvalen count --combined` writes it, or as another program or a
/// spreadsheet saves one: tab-separated rows (the word, maybe padded, a tab, the count, maybe more
/// columns; a first line whose count is no number is a header), CSV (with a header such as
/// word,count, or without one) or JSON (an array of objects with "word" and "count"). Fields of
/// tsv and csv may be quoted. A count may be padded or grouped in thousands ("1,234"); one with
/// decimals ("12.5", "1,5"), or a count or total beyond 2^53 (beyond what the measures work out
/// exactly), is refused. A word may hold tabs: the count is then read from the column as far from
/// the line's end as in the other lines. Lines without a word are left out.
/// nullopt, with error naming the file and the line that cannot be read, for a damaged list;
/// notes, when given, receive what was left out and whether the list counts no word at all.
std::optional<FrequencyList> readFrequencyList(const QString &path, QString *error = nullptr, QStringList *notes = nullptr);
/// The same from bytes already read (name is the file's, for messages).
std::optional<FrequencyList> parseFrequencyList(const QByteArray &bytes, const QString &name, QString *error = nullptr,
                                                 QStringList *notes = nullptr);

/// The keyness of a word with frequency a in the target corpus of c words and b in the reference
/// of d words (Rayson and Garside 2000; Hardie 2014; Wilson 2013):
///   E1 = c * (a + b) / (c + d), E2 = d * (a + b) / (c + d),
///   LL = 2 * (a * ln(a / E1) + b * ln(b / E2)) with 0 * ln 0 = 0, negative unless a/c > b/d;
///   log ratio = log2((a' / c) / (b' / d)), a zero frequency taken as 0.5;
///   BIC = LL - ln(c + d); p = the chi-square (1 degree of freedom) upper-tail probability of |LL|.
struct Keyness
{
    double logLikelihood = 0;
    double logRatio = 0;
    double bic = 0;
    double p = 1;
};
Keyness keynessOf(qint64 a, qint64 b, qint64 c, qint64 d);

/// The chi-square upper-tail probability with one degree of freedom: erfc(sqrt(x / 2)).
double chiSquareUpperTail(double x);

struct KeywordRow
{
    QString word;
    qint64 frequency = 0;          ///< a
    qint64 referenceFrequency = 0; ///< b
    double perMillion = 0;         ///< a / c * 1,000,000
    double referencePerMillion = 0;
    Keyness keyness;
};

/// Which keywords are kept.
struct KeywordFilter
{
    /// Keep a word when its p is below this (0.05, 0.01, 0.001, 0.0001); 1 or more keeps every word.
    double cutoff = 0.05;
    /// The cut-off divided by the number of distinct words compared.
    bool bonferroni = false;
    /// Negative keywords (less frequent in the target than in the reference) too.
    bool negative = false;
    /// The least target frequency of a keyword; with negative keywords, the least of the larger
    /// of its two frequencies (a word absent from the target may be a negative keyword).
    qint64 minFrequency = 1;
};

/// The cut-offs a keyword list offers.
QList<double> keywordCutoffs();

/// Compares every word of either list: the keywords the filter keeps, ordered by LL descending
/// (negative ones after the positive, the most negative last), ties by the Unicode root collation
/// of the word. compared, when given, receives the number of distinct words compared.
std::vector<KeywordRow> compareFrequencies(const FrequencyList &target, const FrequencyList &reference,
                                           const KeywordFilter &filter, qint64 *compared = nullptr);

} // namespace corvalen
