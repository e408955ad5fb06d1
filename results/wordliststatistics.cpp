#include "results/wordliststatistics.h"

namespace corvalen {

qsizetype characterCount(QStringView text)
{
    qsizetype n = text.size();
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i].isHighSurrogate() && text[i + 1].isLowSurrogate()) {
            --n;
            ++i;
        }
    }
    return n;
}

void StatisticsCollector::add(QStringView word, qint64 count)
{
    const qsizetype length = characterCount(word);
    m_stats.tokens += count;
    ++m_stats.types;
    if (count == 1)
        ++m_stats.hapaxLegomena;
    m_stats.characters += count * length;
    if (length > m_longest || (length == m_longest && word < QStringView(m_stats.longestWord))) {
        m_longest = length;
        m_stats.longestWord = word.toString();
    }
}

} // namespace corvalen
