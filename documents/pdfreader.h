#pragma once

#include "documents/formatreader.h"

namespace corvalen {

/// PDF (.pdf): the text layer, page by page, one paragraph per text line in reading order.
/// A PDF without a text layer gives an empty text, not an error.
class PdfReader : public FormatReader
{
public:
    QString name() const override;
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;

    /// Whether this build can read PDF at all (poppler-cpp was found).
    static bool available();
};

} // namespace corvalen
