#pragma once

// Small helpers shared by the .doc, RTF and PDF readers.

#include "documents/formatreader.h"

#include <QString>

namespace corvalen {

/// Collects output characters and hands them to the sink in large chunks; remembers the last
/// character so that the text can be closed with a paragraph end.
class TextWriter
{
public:
    explicit TextWriter(const TextSink &sink) : m_sink(sink) { m_buffer.reserve(Chunk + 64); }
    ~TextWriter() = default;

    void put(char16_t c)
    {
        m_buffer.append(QChar(c));
        if (m_buffer.size() >= Chunk)
            flush();
    }
    void put(QStringView s)
    {
        if (s.isEmpty())
            return;
        m_buffer.append(s);
        if (m_buffer.size() >= Chunk)
            flush();
    }
    void putLatin1(const char *p, qsizetype n)
    {
        m_buffer.append(QLatin1StringView(p, n));
        if (m_buffer.size() >= Chunk)
            flush();
    }
    /// Ends the text: every paragraph, the last included, ends with 13.
    void finish()
    {
        if (lastChar() != 13)
            put(char16_t(13));
        flush();
    }
    char16_t lastChar() const { return m_buffer.isEmpty() ? m_lastFlushed : m_buffer.back().unicode(); }
    void flush()
    {
        if (m_buffer.isEmpty())
            return;
        m_lastFlushed = m_buffer.back().unicode();
        m_sink(m_buffer);
        m_buffer.clear();
    }

private:
    static constexpr qsizetype Chunk = 1 << 16;
    const TextSink &m_sink;
    QString m_buffer;
    char16_t m_lastFlushed = 0;
};

/// The Windows-1252 meaning of bytes 0x80-0x9F (the rest of the code page equals Latin-1).
inline char16_t windows1252(uchar b)
{
    static constexpr char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return (b >= 0x80 && b < 0xA0) ? high[b - 0x80] : char16_t(b);
}

} // namespace corvalen
