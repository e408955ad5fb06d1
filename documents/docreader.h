#pragma once

#include "documents/formatreader.h"

namespace corvalen {

/// Word 97-2003 documents and templates (.doc .dot): the main-document text of the piece table,
/// read from the compound file without any outside library.
class DocReader : public FormatReader
{
public:
    QString name() const override;
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;
};

} // namespace corvalen
