#pragma once

#include "corpus/corpusscan.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvalen {

/// How a word of a combined count spreads over the files as parts (Gries 2008; Juilland 1964).
/// With n files, s_i file i's share of the corpus's words, f_i the word's count in file i and F
/// its total: DP = 1/2 * sum |f_i / F - s_i|; Juilland's D from the relative frequencies
/// x_i = f_i / (words of file i): D = 1 - (sigma / mu) / sqrt(n - 1), sigma the population
/// standard deviation of the x_i. With one file both are left empty.
struct WordDispersion
{
    double perMillion = 0;
    std::optional<double> juillandD;
    std::optional<double> dp;
};

/// The words of each file of a corpus, counted file by file to find how every word of a combined
/// count spreads over them. The files are read on both cores; words are told apart by a 64-bit hash
/// of their text (a phrase by its words', a group of forms by its key's), so that no table of them
/// is needed beside the count's own.
class FileWordCounts
{
public:
    /// Reads the files with finder's rules (the count's).
    static FileWordCounts measure(const QStringList &files, std::shared_ptr<const WordFinder> finder,
                                  const std::atomic<bool> *stop = nullptr, Progress *progress = nullptr);

    /// The dispersion of a row of the combined count of the same files with the same rules: its
    /// word (as the row shows it) and count; total is the count's total.
    WordDispersion of(QStringView word, qint64 count, qint64 total) const;
    /// The files with words, the parts of the dispersion.
    qint64 parts() const { return m_parts; }
    /// The words (or phrases) of a file as counted; -1 for a file that could not be read.
    qint64 fileWords(qint32 file) const { return m_fileWords[size_t(file)]; }
    /// Hands visit each file a word (as a row of the combined count shows it) occurs in, with its
    /// count there: what each file's own statistics are made of.
    void forEachFile(QStringView word, const std::function<void(qint32 file, qint64 count)> &visit) const;
    /// Files that could not be read (index, reason).
    const std::vector<std::pair<qint32, QString>> &failures() const { return m_failures; }

private:
    struct Pair
    {
        quint32 file;
        quint32 count;
    };
    quint64 keyOf(QStringView word) const;

    std::shared_ptr<WordFinder> m_finder; // for the keys of groups
    int m_phrase = 1;
    std::vector<qint64> m_fileWords;
    qint64 m_parts = 0;
    qint64 m_words = 0; // of the files read: what every row's shares are of
    std::vector<quint64> m_slots;    // hash -> index + 1, open addressing (hash in m_hashes)
    std::vector<quint64> m_hashes;   // by index
    std::vector<size_t> m_starts;    // by index: where its files begin in m_pairs
    std::vector<Pair> m_pairs;       // every word's files, grouped by word
    std::vector<std::pair<qint32, QString>> m_failures;
};

} // namespace corvalen
