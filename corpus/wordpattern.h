#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>

#include <memory>
#include <optional>

struct pcre2_real_code_16;
struct pcre2_real_match_data_16;
struct pcre2_real_match_context_16;
struct pcre2_real_jit_stack_16;

namespace corvalen {

/// A regular expression (Perl's syntax, as PCRE2 reads it) that a whole counted word must match.
/// The pattern is compiled on its own and the match anchored at the word's start and end by the
/// engine, so no part of the pattern can step outside the anchors (as "a)|(b" could when pasted
/// between them). Unicode properties always: \w, \d and the POSIX classes know every script.
/// Copies share the compiled pattern, which any number of threads may match at once.
class WordPattern
{
public:
    /// The pattern compiled, or nullopt for a pattern the engine refuses (invalid, or too large),
    /// with error set to the engine's own message ("missing terminating ] for character class")
    /// and errorOffset to the place in the pattern (UTF-16 code units) where it found the fault.
    static std::optional<WordPattern> compile(const QString &pattern, bool caseInsensitive, QString *error = nullptr,
                                              qsizetype *errorOffset = nullptr);
    /// A pattern that may match anywhere inside a word (a find over a word list), not only the
    /// whole of it.
    static std::optional<WordPattern> compileUnanchored(const QString &pattern, bool caseInsensitive,
                                                        QString *error = nullptr, qsizetype *errorOffset = nullptr);

    const QString &pattern() const { return m_pattern; }

private:
    static std::optional<WordPattern> compileWith(const QString &pattern, uint32_t options, QString *error,
                                                  qsizetype *errorOffset);

    std::shared_ptr<pcre2_real_code_16> m_code;
    QString m_pattern;
    friend class PatternMatcher;
};

/// Matches words against patterns on one thread: its own match data and stack for the engine.
class PatternMatcher
{
public:
    enum class Outcome {
        NoMatch,
        Match,
        /// The engine gave up before it could tell (its match, depth or memory limit): the pattern
        /// backtracks too much on this word.
        GaveUp,
    };

    PatternMatcher();
    ~PatternMatcher();
    PatternMatcher(const PatternMatcher &) = delete;
    PatternMatcher &operator=(const PatternMatcher &) = delete;

    Outcome match(const WordPattern &pattern, QStringView word);

private:
    pcre2_real_match_data_16 *m_data = nullptr;
    pcre2_real_match_context_16 *m_context = nullptr;
    pcre2_real_jit_stack_16 *m_stack = nullptr;
};

} // namespace corvalen
