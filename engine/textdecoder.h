#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <functional>
#include <optional>

class QIODevice;

namespace corvalen {

/// Decodes a text file block by block into UTF-16 and turns every line end (CR LF, LF or CR)
/// into one carriage return. Blocks may cut characters and CR LF pairs anywhere.
///
/// UTF-8 is decoded here, sixteen bytes at a time where they are ASCII, with the results of
/// QStringDecoder when it is given the whole file at once: a byte order mark at the start is
/// dropped, each malformed sequence becomes U+FFFD, an incomplete character at the very end is
/// dropped. Unlike QStringDecoder, the result does not depend on where the blocks are cut.
/// Other encodings go through QStringDecoder.
class TextDecoder
{
public:
    explicit TextDecoder(QStringConverter::Encoding encoding = QStringConverter::Utf8);
    /// Any other encoding, through the given decoder.
    explicit TextDecoder(QStringDecoder decoder);

    /// Replaces out with the text of the next block (out keeps its memory between calls).
    void decode(QByteArrayView block, QString &out);

    /// Decodes the rest of device, read in blocks of block's size, into sink; the first `have`
    /// bytes of block were already read from it. Every paragraph ends with a CR, the last one
    /// too, so an empty file is one empty paragraph. Returns false when reading fails.
    bool decodeAll(QIODevice &device, QByteArray &block, qint64 have,
                   const std::function<void(QStringView text)> &sink);

    /// Hard-wrapped text for decodeAll(): a paragraph ends at an empty line (or one of spaces and
    /// tabs), at a form feed (a page break) and at the end; every other line end becomes a space.
    /// Characters keep their places: the text is as long as with a paragraph per line, but for
    /// its last line end, which is no space before the final paragraph end.
    void setJoinLines(bool join) { m_joinLines = join; }

private:
    qsizetype decodeFast(const uchar *p, const uchar *end, char16_t *out, const uchar **stop);
    void decodeWithQt(QByteArrayView bytes, QString &out, qsizetype at);

    // Joins the lines of a decoded block in place; true when it ends with a line end made a space.
    bool joinLines(QString &text);

    std::optional<QStringDecoder> m_qt; // encodings other than UTF-8
    bool m_joinLines = false;
    bool m_lineHasText = false; // joining: the line so far holds more than spaces and tabs
    bool m_heldSpace = false;   // joining: the last line end given, a space unless the text ends
    bool m_lastWasCr = false;
    bool m_started = false; // a character has been decoded (only the first may be a BOM)
    uchar m_carry[4] = {};  // the start of a character cut off by the end of the last block
    int m_carried = 0;
};

} // namespace corvalen
