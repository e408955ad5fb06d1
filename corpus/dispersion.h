#pragma once

#include "corpus/concordance.h"

#include <QString>

#include <optional>
#include <vector>

namespace corvalen {

/// Where a query occurs in one file: the file's counted words, the hits and their places.
struct FileDispersion
{
    qint32 file = 0;
    qint64 words = 0;
    std::vector<qint64> positions; ///< the hits' first words among the file's counted words, from 0
    bool failed = false;           ///< the file could not be read (failure says why)
    QString failure;

    qint64 hits() const { return qint64(positions.size()); }
    /// Hits per 1,000 words (0 for a file without words).
    double perThousand() const;
    /// Juilland's D over the file's ten equal parts; none for a file without hits.
    std::optional<double> juillandD() const;
};

/// Juilland's D of hits at positions among `words` counted words cut into `parts` equal parts
/// (word i belongs to part floor(parts * i / words)): with v the hits of each part, mean m and
/// population standard deviation s, D = 1 - (s / m) / sqrt(parts - 1). None without hits.
std::optional<double> juillandD(const std::vector<qint64> &positions, qint64 words, int parts = 10);

/// Gathers the hits of a search's lines (a search made with positionsOnly will do) as they come,
/// file by file, keeping only their places.
class DispersionCollector
{
public:
    explicit DispersionCollector(qsizetype files);
    void add(const std::vector<ConcordanceLine> &lines);
    void add(const ConcordanceBatch &batch) { add(batch.lines); }
    /// Every file of the search, in its order, with its hits and its words (the search's
    /// fileWords()). Files without hits are there with none.
    std::vector<FileDispersion> take(const std::vector<qint64> &fileWords);

private:
    std::vector<FileDispersion> m_files;
};

/// The same of lines held.
std::vector<FileDispersion> dispersionOf(const std::vector<ConcordanceLine> &lines,
                                         const std::vector<qint64> &fileWords);

} // namespace corvalen
