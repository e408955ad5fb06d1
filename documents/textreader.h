#pragma once

#include "documents/formatreader.h"

#include <QStringConverter>

#include <optional>

namespace corvalen {

/// Plain text in UTF-8, UTF-16 (with or without a byte order mark) or Windows-1252, streamed in
/// blocks so that a file of any size is read in constant memory. CR LF, LF and CR each end a
/// paragraph; with blank-line paragraphs, only an empty line (or one of spaces and tabs), a form
/// feed and the end do, the other line ends becoming spaces. The last reader asked: it takes
/// every file that looks like text.
class PlainTextReader : public FormatReader
{
public:
    explicit PlainTextReader(WordRules::Paragraphs paragraphs = WordRules::Paragraphs::Lines)
        : m_paragraphs(paragraphs)
    {
    }
    QString name() const override { return QStringLiteral("text"); }
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;
    bool streams() const override { return true; }

private:
    WordRules::Paragraphs m_paragraphs;
};

/// The encoding named by a byte order mark at the start of data, and the mark's length.
std::optional<QStringConverter::Encoding> encodingFromBom(QByteArrayView data, int *bomLength = nullptr);

/// UTF-16 without a byte order mark, told by the zero bytes of its Latin characters.
std::optional<QStringConverter::Encoding> utf16FromZeroBytes(QByteArrayView head);

/// Whether data is valid UTF-8. When atEnd is false, a character cut off at the very end of data
/// counts as valid (the rest may follow).
bool isValidUtf8(QByteArrayView data, bool atEnd = true);

} // namespace corvalen
