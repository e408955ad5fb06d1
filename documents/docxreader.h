#pragma once

#include "documents/formatreader.h"
#include "documents/xmlscanner.h"

namespace corvalen {

/// Word 2007 and later (.docx .docm .dotx .dotm): the main story of the package's main document
/// part, found through the package relationships. Any other zip archive that turns out to be an
/// OpenDocument package is handed to the OpenDocument reading.
class DocxReader : public FormatReader
{
public:
    QString name() const override { return QStringLiteral("docx"); }
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;
};

/// Reads the body text of a WordprocessingML main document part, whole or as it arrives, into
/// sink. Unsupported when the part is not a Word document.
ReadOutcome readWordprocessingBody(const QByteArray &xml, const TextSink &sink);
ReadOutcome readWordprocessingBody(const XmlScanner::Source &source, const TextSink &sink);

} // namespace corvalen
