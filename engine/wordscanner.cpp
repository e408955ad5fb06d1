#include "engine/wordscanner.h"
#include "engine/wordtally.h"

#include <QChar>

namespace corvalen {

namespace counting {

void lowerRest(char16_t *w, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const char16_t u = w[i];
        if (u < 0x2500)
            continue;
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(w[i + 1])) {
            const char32_t c = simpleLower(QChar::surrogateToUcs4(u, w[i + 1]));
            Q_ASSERT(c > 0xFFFF);
            w[i] = QChar::highSurrogate(c);
            w[i + 1] = QChar::lowSurrogate(c);
            ++i;
        } else {
            const char32_t c = simpleLower(u);
            Q_ASSERT(c <= 0xFFFF);
            w[i] = char16_t(c);
        }
    }
}

const std::array<char16_t, 0x2500> &ignoreCaseCleaning()
{
    static const std::array<char16_t, 0x2500> table = [] {
        std::array<char16_t, 0x2500> t{};
        for (char32_t c = 0; c < t.size(); ++c) {
            const char32_t l = QChar::isSurrogate(c) ? c : simpleLower(c);
            t[c] = c < 128 && kAscii.punctuation[c] ? kDeleted : char16_t(l <= 0xFFFF ? l : c);
        }
        return t;
    }();
    return table;
}

} // namespace counting

char32_t simpleLower(char32_t c)
{
    if (c < 128)
        return counting::kAscii.lower[c];
    if (c == 0x130) // QChar leaves it alone; its simple lower-case form is "i"
        return U'i';
    return QChar::toLower(c);
}

} // namespace corvalen
