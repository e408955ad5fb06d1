#include "corpus/wordpattern.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <QCoreApplication>

#include <new>

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::WordPattern", text);
}

// The engine's stack for compiled (JIT) matching grows to this before it gives up: room for
// deeply nested patterns on long words, and a bound on a pattern that backtracks without end.
constexpr size_t kStackStart = 32 * 1024;
constexpr size_t kStackMost = 1024 * 1024;

} // namespace

std::optional<WordPattern> WordPattern::compile(const QString &pattern, bool caseInsensitive, QString *error,
                                                qsizetype *errorOffset)
{
    return compileWith(pattern, PCRE2_ANCHORED | PCRE2_ENDANCHORED | (caseInsensitive ? PCRE2_CASELESS : 0), error,
                       errorOffset);
}

std::optional<WordPattern> WordPattern::compileUnanchored(const QString &pattern, bool caseInsensitive, QString *error,
                                                          qsizetype *errorOffset)
{
    return compileWith(pattern, caseInsensitive ? PCRE2_CASELESS : 0, error, errorOffset);
}

std::optional<WordPattern> WordPattern::compileWith(const QString &pattern, uint32_t extent, QString *error,
                                                    qsizetype *errorOffset)
{
    // UTF-16 with Unicode properties, as Qt's expressions read it; a word holding a lone
    // surrogate is matched where it is valid rather than refused as a whole.
    const uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | extent;
    int code = 0;
    PCRE2_SIZE offset = 0;
    static const char16_t empty = 0;
    const auto *units = pattern.isEmpty() ? reinterpret_cast<PCRE2_SPTR>(&empty) : reinterpret_cast<PCRE2_SPTR>(pattern.utf16());
    pcre2_code *compiled = pcre2_compile(units, PCRE2_SIZE(pattern.size()), options, &code, &offset, nullptr);
    if (!compiled) {
        if (error) {
            PCRE2_UCHAR message[256];
            const int length = pcre2_get_error_message(code, message, sizeof message / sizeof message[0]);
            *error = length > 0 ? QString::fromUtf16(reinterpret_cast<const char16_t *>(message), length)
                                : tr("error %1").arg(code);
        }
        if (errorOffset)
            *errorOffset = qsizetype(offset);
        return std::nullopt;
    }
    // Compiled to machine code where the engine can; where it cannot, it matches by interpreting.
    pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
    WordPattern p;
    p.m_code = std::shared_ptr<pcre2_real_code_16>(compiled, [](pcre2_code *c) { pcre2_code_free(c); });
    p.m_pattern = pattern;
    return p;
}

PatternMatcher::PatternMatcher()
{
    m_data = pcre2_match_data_create(1, nullptr);
    m_context = pcre2_match_context_create(nullptr);
    m_stack = pcre2_jit_stack_create(kStackStart, kStackMost, nullptr);
    if (!m_data || !m_context) {
        pcre2_match_data_free(m_data);
        pcre2_match_context_free(m_context);
        pcre2_jit_stack_free(m_stack);
        throw std::bad_alloc();
    }
    if (m_stack)
        pcre2_jit_stack_assign(m_context, nullptr, m_stack);
}

PatternMatcher::~PatternMatcher()
{
    pcre2_match_data_free(m_data);
    pcre2_match_context_free(m_context);
    pcre2_jit_stack_free(m_stack);
}

PatternMatcher::Outcome PatternMatcher::match(const WordPattern &pattern, QStringView word)
{
    if (!pattern.m_code)
        return Outcome::NoMatch;
    static const char16_t empty = 0;
    const auto *units = word.isEmpty() ? reinterpret_cast<PCRE2_SPTR>(&empty) : reinterpret_cast<PCRE2_SPTR>(word.utf16());
    const int rc = pcre2_match(pattern.m_code.get(), units, PCRE2_SIZE(word.size()), 0, 0, m_data, m_context);
    // 0 is a match whose groups did not fit the one pair of offsets asked for.
    if (rc >= 0)
        return Outcome::Match;
    return rc == PCRE2_ERROR_NOMATCH ? Outcome::NoMatch : Outcome::GaveUp;
}

} // namespace corvalen
