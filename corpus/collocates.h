#pragma once

#include "corpus/corpusquery.h"
#include "corpus/corpusscan.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace corvalen {

/// The association measures of a collocate (Evert, "Corpora and collocations", 2008), from its
/// co-occurrences O with the node, its frequency f_c, the node's frequency f_n, the corpus's
/// counted words N and the span K = L + R:
///   E = f_n * f_c * K / N, MI = log2(O / E), MI3 = log2(O^3 / E), T-score = (O - E) / sqrt(O),
///   logDice = 14 + log2(2 * O / (f_n + f_c)),
///   log-likelihood from the 2x2 table O11 = O, O12 = f_n * K - O, O21 = f_c - O,
///   O22 = N - f_n * K - f_c + O (a cell below 0 taken as 0), E_ij = row_i * column_j / total,
///   LL = 2 * sum O_ij * ln(O_ij / E_ij) with 0 * ln 0 = 0, negative when O < E.
struct Association
{
    double expected = 0;
    double mi = 0;
    double mi3 = 0;
    double tScore = 0;
    double logLikelihood = 0;
    double logDice = 0;
};
Association associationOf(qint64 o, qint64 fc, qint64 fn, qint64 n, int k);

/// One collocate of a node: a counted word within the span of the node's occurrences.
struct CollocateRow
{
    QString word;
    qint64 cooccurrence = 0; ///< O: within the span, counted once for each window it lies in
    qint64 left = 0;         ///< O_L: to the left of the node
    qint64 right = 0;        ///< O_R: to the right
    qint64 frequency = 0;    ///< f_c: in the whole corpus
    Association measures;
};

/// What a collocate search looks for.
struct CollocateRequest
{
    static constexpr int kMaxSpan = 10;

    QStringList files;
    std::shared_ptr<const WordFinder> finder; ///< the count's rules, made ready
    CorpusQuery node;                          ///< one word (a pattern or a regular expression)
    int left = 5;                              ///< L, 0 to 10
    int right = 5;                             ///< R, 0 to 10, not both 0
    /// Only the collocates with this many co-occurrences and this frequency are made rows: the
    /// rest are never spelled out.
    qint64 minCooccurrence = 1;
    qint64 minFrequency = 0;
};

/// Every word that co-occurs with the node (as often as the request's minimums ask), with its
/// measures, in no particular order.
struct CollocateResult
{
    std::vector<CollocateRow> rows;
    qint64 nodeOccurrences = 0; ///< f_n: the node's occurrences, its concordance lines
    qint64 corpusWords = 0;     ///< N: the counted words of the files read
    /// Files that could not be read (index in the request, reason): they add nothing.
    std::vector<std::pair<qint32, QString>> failures;
    bool complete = true;       ///< false when stopped
};

/// Counts the co-occurrences of a node's occurrences: every counted word within L words to the
/// left and R to the right, in the same file, across paragraph ends (stop words and short words are
/// not counted words, so they are neither nodes nor collocates). The node occurrence itself is not
/// counted; another occurrence of the node inside the window is. With word forms grouped a
/// collocate is a group, shown by its lemma or its stem's most frequent form. The files are read on
/// both cores.
CollocateResult findCollocates(const CollocateRequest &request, const std::atomic<bool> *stop = nullptr,
                               Progress *progress = nullptr);

/// What orders collocates.
enum class CollocateMeasure { LogLikelihood, MI, MI3, TScore, LogDice, Frequency };
/// The command line's names of the measures: ll, mi, mi3, t, logdice, freq.
QStringList collocateMeasureNames();
std::optional<CollocateMeasure> collocateMeasureFromName(const QString &name);
double measureOf(const CollocateRow &row, CollocateMeasure measure);

/// The rows with at least minCooccurrence co-occurrences and a frequency of at least minFrequency,
/// ordered by measure descending, ties by co-occurrences descending, then by the Unicode root
/// collation of the word; the first `top` of them (all with a negative top).
std::vector<CollocateRow> selectCollocates(std::vector<CollocateRow> rows, CollocateMeasure measure,
                                           qint64 minCooccurrence = 2, qint64 minFrequency = 1, qint64 top = -1);

/// Why a query cannot be a node (a phrase); empty when it can.
QString nodeProblem(const CorpusQuery &query);

} // namespace corvalen
