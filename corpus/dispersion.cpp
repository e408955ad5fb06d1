#include "corpus/dispersion.h"

#include <algorithm>
#include <cmath>

namespace corvalen {

double FileDispersion::perThousand() const
{
    return words > 0 ? 1000.0 * double(hits()) / double(words) : 0.0;
}

std::optional<double> FileDispersion::juillandD() const
{
    return corvalen::juillandD(positions, words);
}

std::optional<double> juillandD(const std::vector<qint64> &positions, qint64 words, int parts)
{
    if (positions.empty() || words <= 0 || parts < 2)
        return std::nullopt;
    std::vector<double> inPart(size_t(parts), 0.0);
    for (const qint64 i : positions) {
        // Exact in integers: floor(parts * i / words).
        const qint64 part = std::clamp<qint64>(qint64((__int128(parts) * i) / words), 0, parts - 1);
        inPart[size_t(part)] += 1.0;
    }
    const double mean = double(positions.size()) / parts;
    double squares = 0.0;
    for (const double v : inPart)
        squares += (v - mean) * (v - mean);
    const double deviation = std::sqrt(squares / parts);
    // In [0, 1]; rounding could take it a hair outside.
    return std::clamp(1.0 - (deviation / mean) / std::sqrt(double(parts - 1)), 0.0, 1.0);
}

DispersionCollector::DispersionCollector(qsizetype files) : m_files(size_t(std::max<qsizetype>(0, files)))
{
    for (size_t i = 0; i < m_files.size(); ++i)
        m_files[i].file = qint32(i);
}

void DispersionCollector::add(const std::vector<ConcordanceLine> &lines)
{
    for (const ConcordanceLine &line : lines) {
        if (size_t(line.file) >= m_files.size())
            continue;
        FileDispersion &f = m_files[size_t(line.file)];
        if (line.failed) {
            f.failed = true;
            f.failure = line.text.toString();
            f.positions.clear();
        } else if (!f.failed) {
            f.positions.push_back(line.position);
        }
    }
}

std::vector<FileDispersion> DispersionCollector::take(const std::vector<qint64> &fileWords)
{
    for (size_t i = 0; i < m_files.size() && i < fileWords.size(); ++i) {
        FileDispersion &f = m_files[i];
        f.failed = f.failed || fileWords[i] < 0;
        f.words = f.failed ? 0 : fileWords[i];
        if (f.failed)
            f.positions.clear();
    }
    return std::move(m_files);
}

std::vector<FileDispersion> dispersionOf(const std::vector<ConcordanceLine> &lines,
                                         const std::vector<qint64> &fileWords)
{
    DispersionCollector collector(qsizetype(fileWords.size()));
    collector.add(lines);
    return collector.take(fileWords);
}

} // namespace corvalen
