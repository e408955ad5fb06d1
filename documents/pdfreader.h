#pragma once

#include "documents/formatreader.h"

namespace corvalen {

/// PDF (.pdf): the text layer, page by page, one paragraph per text line in reading order.
/// With blank-line paragraphs, a paragraph is the lines up to an empty line of the layer's text
/// (which separates blocks of text set apart on the page) or the end of the page, joined by
/// spaces. A PDF without a text layer gives an empty text, not an error.
class PdfReader : public FormatReader
{
public:
    explicit PdfReader(WordRules::Paragraphs paragraphs = WordRules::Paragraphs::Lines)
        : m_paragraphs(paragraphs)
    {
    }
    QString name() const override;
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;

    /// Whether this build can read PDF at all (poppler-cpp was found).
    static bool available();

private:
    WordRules::Paragraphs m_paragraphs;
};

} // namespace corvalen
