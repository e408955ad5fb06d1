#pragma once

#include "documents/formatreader.h"

namespace corvalen {

/// Rich Text Format (.rtf, and .doc files that are really RTF): the text of the main body,
/// without tables of fonts and styles, pictures, objects, notes, headers and footers,
/// field instructions and hidden or deleted text. Groups are tracked on the heap, so any
/// depth of nesting is safe; the file is read front to back in blocks, so any size is.
class RtfReader : public FormatReader
{
public:
    QString name() const override;
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;
    bool streams() const override { return true; }
};

} // namespace corvalen
