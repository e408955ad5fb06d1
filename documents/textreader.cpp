#include "documents/textreader.h"
#include "engine/textdecoder.h"
#include "engine/utf8.h"

#include <QFile>
#include <QStringDecoder>

#include <cstring>

namespace corvalen {

namespace {

constexpr qsizetype kBlockSize = 1 << 20;

// Control characters that do occur in real text files (tab, line ends, form feed, EOF mark, ESC).
bool isTextControl(uchar c)
{
    return c == 9 || c == 10 || c == 11 || c == 12 || c == 13 || c == 26 || c == 27;
}

// Few enough stray control characters for the data to be text rather than a binary file.
template<typename Unit>
bool looksLikeText(const Unit *data, qsizetype n)
{
    qsizetype controls = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = data[i];
        if (c == 0)
            return false;
        if (c < 32 && !isTextControl(uchar(c)))
            ++controls;
    }
    return controls * 50 <= n; // at most 2 %
}

} // namespace

std::optional<QStringConverter::Encoding> encodingFromBom(QByteArrayView data, int *bomLength)
{
    const auto starts = [&](std::initializer_list<uchar> bom) {
        if (data.size() < qsizetype(bom.size()))
            return false;
        qsizetype i = 0;
        for (uchar b : bom)
            if (uchar(data[i++]) != b)
                return false;
        if (bomLength)
            *bomLength = int(bom.size());
        return true;
    };
    if (starts({0xEF, 0xBB, 0xBF}))
        return QStringConverter::Utf8;
    if (starts({0xFF, 0xFE}))
        return QStringConverter::Utf16LE;
    if (starts({0xFE, 0xFF}))
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

std::optional<QStringConverter::Encoding> utf16FromZeroBytes(QByteArrayView head)
{
    const qsizetype pairs = head.size() / 2;
    if (pairs == 0)
        return std::nullopt;
    qsizetype evenZeros = 0, oddZeros = 0;
    for (qsizetype i = 0; i < pairs; ++i) {
        evenZeros += head[2 * i] == 0;
        oddZeros += head[2 * i + 1] == 0;
    }
    // Scripts outside Latin have zeros only at spaces and line ends, so a few suffice if they
    // all sit on one side; the decoded units are checked for being text afterwards.
    const auto decide = [&](qsizetype many, qsizetype few) { return many * 16 >= pairs && few * 8 <= many; };
    if (decide(oddZeros, evenZeros))
        return QStringConverter::Utf16LE;
    if (decide(evenZeros, oddZeros))
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

bool isValidUtf8(QByteArrayView data, bool atEnd)
{
    const auto *p = reinterpret_cast<const uchar *>(data.data());
    const qsizetype n = data.size();
    // Most text is ASCII: it is skipped eight bytes at a time.
    const auto asciiBlock = [p](qsizetype at) {
        quint64 block;
        std::memcpy(&block, p + at, sizeof block);
        return (block & 0x8080808080808080ULL) == 0;
    };
    qsizetype i = 0;
    while (i < n) {
        while (i + 8 <= n && asciiBlock(i))
            i += 8;
        if (i >= n)
            break;
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t cp = 0;
        const int len = decodeUtf8(p + i, n - i, cp);
        if (len < 0)
            return !atEnd; // a character cut off by the end of the block
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

bool PlainTextReader::recognises(QByteArrayView head) const
{
    if (head.isEmpty() || encodingFromBom(head))
        return true;
    if (const auto utf16 = utf16FromZeroBytes(head)) {
        const qsizetype n = head.size() / 2;
        std::vector<char16_t> units(n);
        for (qsizetype i = 0; i < n; ++i) {
            const uchar a = head[2 * i], b = head[2 * i + 1];
            units[i] = *utf16 == QStringConverter::Utf16LE ? char16_t(a | b << 8) : char16_t(b | a << 8);
        }
        return looksLikeText(units.data(), n);
    }
    return looksLikeText(reinterpret_cast<const uchar *>(head.data()), head.size());
}

ReadOutcome PlainTextReader::read(QFile &file, const TextSink &sink) const
{
    QByteArray block(kBlockSize, Qt::Uninitialized);
    qint64 n = file.read(block.data(), block.size());
    if (n < 0)
        return ReadOutcome::fail(ReadError::OpenFailed, file.errorString());
    const QByteArrayView first(block.constData(), n);

    // The first block decides the encoding; a file valid as UTF-8 there is taken as UTF-8.
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
    bool windows1252 = false;
    if (const auto bom = encodingFromBom(first))
        encoding = *bom;
    else if (const auto utf16 = utf16FromZeroBytes(first.first(std::min<qsizetype>(n, 8192))))
        encoding = *utf16;
    else
        windows1252 = !isValidUtf8(first, file.atEnd());
    TextDecoder decoder(encoding);
    if (windows1252) {
        QStringDecoder legacy("windows-1252");
        decoder = TextDecoder(legacy.isValid() ? std::move(legacy) : QStringDecoder(QStringConverter::Latin1));
    }
    decoder.setJoinLines(m_paragraphs == WordRules::Paragraphs::BlankLines);
    if (!decoder.decodeAll(file, block, n, sink))
        return ReadOutcome::fail(ReadError::OpenFailed, file.errorString());
    return ReadOutcome::success();
}

} // namespace corvalen
