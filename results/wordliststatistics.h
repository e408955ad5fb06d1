#pragma once

#include <QString>
#include <QStringView>

namespace corvalen {

/// Figures of a word list: how many words were counted and how varied they are.
struct WordListStatistics
{
    qint64 tokens = 0; // words counted: the total
    qint64 types = 0; // distinct words
    qint64 hapaxLegomena = 0; // distinct words counted once
    qint64 characters = 0; // of all tokens, in Unicode characters (a surrogate pair is one)
    QString longestWord; // the longest in characters; of equal ones the first by UTF-16 code units

    double typeTokenRatio() const { return tokens > 0 ? double(types) / double(tokens) : 0.0; }
    /// Hapax legomena as a share of the types, 0 to 1.
    double hapaxShare() const { return types > 0 ? double(hapaxLegomena) / double(types) : 0.0; }
    /// Mean length of the words counted (each token once), in characters.
    double meanWordLength() const { return tokens > 0 ? double(characters) / double(tokens) : 0.0; }
};

/// Length of a text in Unicode characters: a valid surrogate pair counts once.
qsizetype characterCount(QStringView text);

/// Gathers WordListStatistics from distinct words, each given once with its count.
class StatisticsCollector
{
public:
    void add(QStringView word, qint64 count);
    const WordListStatistics &statistics() const { return m_stats; }

private:
    WordListStatistics m_stats;
    qsizetype m_longest = -1;
};

} // namespace corvalen
