#pragma once

#include "documents/formatreader.h"

namespace corvalen {

/// Word 97-2003 documents and templates (.doc .dot): the main-document text of the piece table,
/// read from the compound file without any outside library.
class DocReader : public FormatReader
{
public:
    /// Tracked deletions are left out, as in the text with every change accepted; keeping them
    /// gives the text as shown with changes marked (what other converters produce).
    explicit DocReader(bool keepDeletions = false) : m_keepDeletions(keepDeletions) {}

    QString name() const override;
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;

private:
    bool m_keepDeletions = false;
};

} // namespace corvalen
