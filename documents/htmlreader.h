#pragma once

#include "documents/formatreader.h"

namespace corvalen {

/// HTML pages, Word's "Web page" files included: the text of the body, block elements as
/// paragraphs, <br> as a manual line break (11), entities decoded, head, scripts and styles
/// left out, the declared character set honoured.
class HtmlReader : public FormatReader
{
public:
    QString name() const override { return QStringLiteral("html"); }
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;
};

/// The body text of an HTML page already decoded to UTF-16.
void htmlBodyText(QStringView html, const TextSink &sink);

/// The character set of an HTML page: its byte order mark, else UTF-16 told by zero bytes, else
/// the meta charset it names when the bytes can be in that encoding, else UTF-8 when the bytes are
/// valid UTF-8, else Windows-1252; returned as a name QStringDecoder understands.
QByteArray htmlCharset(QByteArrayView bytes);

} // namespace corvalen
