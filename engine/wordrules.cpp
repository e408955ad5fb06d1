#include "engine/wordrules.h"

#include "engine/wordscanner.h"

#include <QCoreApplication>

#include <vector>

namespace corvalen {

namespace {

// The plain rules: the same scanner and cleaning as the counter's own fast path.
class BasicWordFinder : public WordFinder
{
public:
    BasicWordFinder(const WordRules &rules, bool ignoreCase)
        : WordFinder(rules, ignoreCase), m_scanner(ignoreCase)
    {
    }

    void findWords(QStringView text, const Found &found) override
    {
        const auto *begin = reinterpret_cast<const char16_t *>(text.utf16());
        const char16_t *end = begin + text.size();
        const char16_t *p = begin;
        while (p < end) {
            if (*p == 32 || *p == 13) {
                ++p;
                continue;
            }
            const char16_t *start = p;
            bool dirty = false;
            p = m_scanner.wordEnd(p, end, dirty);
            const size_t n = size_t(p - start);
            QStringView word(start, qsizetype(n));
            if (dirty) {
                if (m_buffer.size() < n)
                    m_buffer.resize(n);
                const size_t k = counting::cleanWord(m_buffer.data(), start, n, ignoresCase());
                if (k == 0)
                    continue; // only punctuation
                word = QStringView(m_buffer.data(), qsizetype(k));
            }
            found({word, start - begin, p - begin});
        }
    }

    QString groupKey(QStringView word) const override { return word.toString(); }

private:
    counting::WordScanner m_scanner;
    std::vector<char16_t> m_buffer;
};

} // namespace

std::unique_ptr<WordFinder> WordFinder::create(const WordRules &rules, bool ignoreCase, QString *error)
{
    if (!rules.isDefault()) {
        if (error)
            *error = QCoreApplication::translate("WordRules", "These word rules are not available.");
        return nullptr;
    }
    return std::make_unique<BasicWordFinder>(rules, ignoreCase);
}

} // namespace corvalen
