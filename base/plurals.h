#pragma once

#include <QTranslator>

namespace corvalen {

/// The singular and plural of the program's own English texts that hold a count. Such a text is
/// written as Qt wants it, tr("%n word(s)", nullptr, n), and Qt leaves choosing the form to a
/// translation; this one, for the source language, drops "(s)" (or "(es)") for 1 and keeps its
/// letters otherwise: "1 word", "2 words". Every other text it leaves untranslated.
class EnglishPlurals : public QTranslator
{
public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }
};

/// Installs one EnglishPlurals on the running application (once). A translation installed later
/// is asked first.
void installEnglishPlurals();

} // namespace corvalen
