#include "documents/xmlscanner.h"
#include "engine/utf8.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <cstring>
#include <optional>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace corvalen {

namespace {

inline bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

constexpr auto kEndsName = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {' ', '\n', '\t', '\r', '/', '>', '='})
        table[c] = true;
    return table;
}();

inline bool endsName(char c)
{
    return kEndsName[static_cast<unsigned char>(c)];
}

// Where the name at p ends (at end when it runs into it). Names are short but of many lengths: one
// block compare instead of a loop whose exit is hard to predict.
inline const char *nameEnd(const char *p, const char *end)
{
#ifdef __SSE2__
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const auto is = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_or_si128(is(' '), is('>')), _mm_or_si128(is('/'), is('='))),
                                         _mm_or_si128(_mm_or_si128(is('\n'), is('\t')), is('\r')));
        if (const unsigned found = unsigned(_mm_movemask_epi8(hit)))
            return p + __builtin_ctz(found);
        p += 16;
    }
#endif
    while (p < end && !endsName(*p))
        ++p;
    return p;
}

// The first c in [p, end), or null. Most searches here end within a few dozen bytes, where an
// inline loop beats a library call.
inline const char *findByte(const char *p, const char *end, char c)
{
#ifdef __SSE2__
    const __m128i needle = _mm_set1_epi8(c);
    for (; end - p >= 16; p += 16) {
        const unsigned found = unsigned(
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), needle)));
        if (found)
            return p + __builtin_ctz(found);
    }
#endif
    for (; p < end; ++p)
        if (*p == c)
            return p;
    return nullptr;
}

// Names are short: a plain loop beats a library call here.
inline void splitQName(std::string_view qname, std::string_view &prefix, std::string_view &local)
{
    for (size_t i = 0; i < qname.size(); ++i) {
        if (qname[i] == ':') {
            prefix = qname.substr(0, i);
            local = qname.substr(i + 1);
            return;
        }
    }
    prefix = {};
    local = qname;
}

inline bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// Decodes the entity reference at p (just after '&'); returns its length including ';' or 0.
size_t decodeEntity(const char *p, const char *end, char32_t &cp)
{
    const char *semi = static_cast<const char *>(std::memchr(p, ';', std::min<size_t>(end - p, 12)));
    if (!semi)
        return 0;
    const std::string_view name(p, semi - p);
    if (name == "lt")
        cp = '<';
    else if (name == "gt")
        cp = '>';
    else if (name == "amp")
        cp = '&';
    else if (name == "quot")
        cp = '"';
    else if (name == "apos")
        cp = '\'';
    else if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty())
            return 0;
        char32_t v = 0;
        for (char c : digits) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return 0;
            v = v * (hex ? 16 : 10) + d;
            if (v > 0x10FFFF)
                return 0;
        }
        if (v == 0 || (v >= 0xD800 && v <= 0xDFFF))
            return 0;
        cp = v;
    } else {
        return 0; // never expanded: DOCTYPE entities are not ours to resolve
    }
    return name.size() + 1;
}

constexpr size_t kPlainBlock = 16;

// Copies the plain bytes at p (ASCII, and no '&' unless cdata) to o as UTF-16 and returns how many
// there were. Stores whole blocks of kPlainBlock units: o must have that much room beyond the
// bytes' count.
inline size_t copyPlain(const unsigned char *p, const unsigned char *end, char16_t *o, bool cdata)
{
    const unsigned char *const start = p;
#ifdef __SSE2__
    // 0x80 never counts as plain, so in CDATA it stands in for the '&' that is no longer special.
    const __m128i special = _mm_set1_epi8(cdata ? char(0x80) : '&');
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= ptrdiff_t(kPlainBlock)) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const unsigned stop = unsigned(_mm_movemask_epi8(v)) | unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, special)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 8), _mm_unpackhi_epi8(v, zero));
        if (stop)
            return size_t(p - start) + __builtin_ctz(stop);
        p += kPlainBlock;
        o += kPlainBlock;
    }
    // The last few bytes one by one: copying them aside to fill a block costs more.
#endif
    for (; p < end && *p < 0x80 && (cdata || *p != '&'); ++p)
        *o++ = *p;
    return size_t(p - start);
}

constexpr qsizetype kTextPiece = 16 << 10; // character data longer than this may come in pieces
constexpr qsizetype kRawSlice = 1 << 20;   // XML in memory is converted this much at a time

// Where [p, end) can be cut without splitting a UTF-8 sequence: before an incomplete last one.
const char *characterCut(const char *p, const char *end)
{
    for (const char *q = end; q > p && end - q < 4;) {
        const auto c = uchar(*--q);
        if (c < 0x80)
            return end;
        if (c >= 0xC0) {
            const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            return end - q >= length ? end : q;
        }
    }
    return end;
}

// The same for character data, which may also hold references: a '&' near the end starts the
// next piece, so that no reference is cut.
const char *textCut(const char *p, const char *end)
{
    for (const char *q = end; q > p && end - q < 16;) {
        if (*--q == '&') {
            end = q;
            break;
        }
    }
    return characterCut(p, end);
}

// How the XML is encoded, as its first bytes tell: a byte order mark, else the zero bytes around
// the first '<' of the wide encodings, else the declaration.
struct Encoding
{
    qsizetype bomLength = 0;
    std::optional<QStringConverter::Encoding> wide;
    QByteArray name;    // a declared encoding other than UTF-8
    QByteArray unknown; // a declared encoding that cannot be read (with mismatch: not as declared)
    bool mismatch = false;

    bool utf8() const { return !wide && name.isEmpty(); }
};

Encoding detectEncoding(std::string_view head)
{
    Encoding e;
    const auto starts = [&head](std::initializer_list<int> bytes) {
        if (head.size() < bytes.size())
            return false;
        size_t i = 0;
        for (const int b : bytes) { // -1 stands for any byte
            if (b >= 0 && uchar(head[i]) != b)
                return false;
            ++i;
        }
        return true;
    };
    const auto wide = [&e](QStringConverter::Encoding encoding, qsizetype bom) {
        e.wide = encoding;
        e.bomLength = bom;
        return e;
    };
    if (starts({0xEF, 0xBB, 0xBF})) {
        e.bomLength = 3;
        return e;
    }
    if (starts({0x00, 0x00, 0xFE, 0xFF}))
        return wide(QStringConverter::Utf32BE, 4);
    if (starts({0xFF, 0xFE, 0x00, 0x00}))
        return wide(QStringConverter::Utf32LE, 4);
    if (starts({0xFE, 0xFF}))
        return wide(QStringConverter::Utf16BE, 2);
    if (starts({0xFF, 0xFE}))
        return wide(QStringConverter::Utf16LE, 2);
    if (starts({0x00, 0x00, 0x00, '<'}))
        return wide(QStringConverter::Utf32BE, 0);
    if (starts({'<', 0x00, 0x00, 0x00}))
        return wide(QStringConverter::Utf32LE, 0);
    if (starts({0x00, '<', 0x00, -1}))
        return wide(QStringConverter::Utf16BE, 0);
    if (starts({'<', 0x00, -1, 0x00}))
        return wide(QStringConverter::Utf16LE, 0);

    // An ASCII-compatible encoding: the declaration may name one other than UTF-8.
    if (!head.starts_with("<?xml"))
        return e;
    const std::string_view declaration = head.substr(0, head.find("?>"));
    const size_t key = declaration.find("encoding");
    if (key == declaration.npos)
        return e;
    size_t p = key + 8;
    while (p < declaration.size() && (declaration[p] == ' ' || declaration[p] == '=' || declaration[p] == '\t'))
        ++p;
    if (p >= declaration.size() || (declaration[p] != '"' && declaration[p] != '\''))
        return e;
    const size_t close = declaration.find(declaration[p], p + 1);
    if (close == declaration.npos)
        return e;
    const QByteArray name = QByteArray(declaration.data() + p + 1, qsizetype(close - p - 1)).trimmed();
    const QByteArray lower = name.toLower();
    if (lower == "utf-8" || lower == "utf8")
        return e;
    // These would have shown in the bytes before the declaration.
    if (lower.startsWith("utf-16") || lower.startsWith("utf-32") || lower.startsWith("ucs-")
        || lower == "utf16" || lower == "utf32") {
        e.unknown = name;
        e.mismatch = true;
        return e;
    }
    if (!QStringDecoder(name.constData()).isValid()) {
        e.unknown = name;
        return e;
    }
    e.name = name;
    return e;
}

} // namespace

// Converts XML in another encoding to UTF-8 as it is read, into blocks for the scanner.
class XmlScanner::Transcoder
{
public:
    using Raw = std::function<std::string_view()>;

    Transcoder(const Encoding &encoding, Raw raw)
        : m_decoder(encoding.wide ? QStringDecoder(*encoding.wide) : QStringDecoder(encoding.name.constData())),
          m_raw(std::move(raw))
    {
    }

    std::span<char> next()
    {
        for (;;) {
            if (m_done)
                return {};
            const std::string_view raw = m_raw();
            if (raw.empty())
                m_done = true;
            // At the end the decoder gives what it still holds (an incomplete last character).
            const QString text = m_decoder.decode(QByteArrayView(raw.data(), qsizetype(raw.size())));
            if (text.isEmpty())
                continue;
            std::vector<char> &buffer = m_buffers[m_turn];
            m_turn ^= 1;
            // UTF-16 never needs more than three bytes of UTF-8 per unit.
            buffer.resize(size_t(kCarryRoom + 3 * text.size()));
            char *out = buffer.data() + kCarryRoom;
            QStringEncoder encoder(QStringConverter::Utf8);
            char *end = encoder.appendToBuffer(out, text);
            return {out, size_t(end - out)};
        }
    }

private:
    QStringDecoder m_decoder;
    Raw m_raw;
    std::vector<char> m_buffers[2];
    int m_turn = 0;
    bool m_done = false;
};

XmlScanner::XmlScanner(std::string_view data, std::span<const std::string_view> namespaces)
    : m_namespaces(namespaces)
{
    m_stack.reserve(64);
    const Encoding encoding = detectEncoding(data.substr(0, 4096));
    data.remove_prefix(size_t(encoding.bomLength));
    if (encoding.utf8() || !encoding.unknown.isEmpty()) {
        m_base = m_pos = data.data();
        m_end = data.data() + data.size();
        m_final = true;
        if (!encoding.unknown.isEmpty())
            failEncoding(encoding.unknown, encoding.mismatch);
        return;
    }
    m_final = false;
    m_transcoder = std::make_unique<Transcoder>(encoding, [data]() mutable {
        const std::string_view slice = data.substr(0, kRawSlice);
        data.remove_prefix(slice.size());
        return slice;
    });
}

XmlScanner::XmlScanner(Source source, std::span<const std::string_view> namespaces)
    : m_source(std::move(source)), m_namespaces(namespaces)
{
    m_stack.reserve(64);
    std::span<char> first = m_source();
    const Encoding encoding = detectEncoding(std::string_view(first.data(), std::min<size_t>(first.size(), 4096)));
    first = first.subspan(std::min(first.size(), size_t(encoding.bomLength)));
    if (encoding.utf8() || !encoding.unknown.isEmpty()) {
        m_base = m_pos = first.data();
        m_end = first.data() + first.size();
        m_final = first.empty();
        if (!encoding.unknown.isEmpty())
            failEncoding(encoding.unknown, encoding.mismatch);
        return;
    }
    m_final = false;
    m_transcoder = std::make_unique<Transcoder>(encoding, [this, first]() mutable {
        const std::span<char> block = !first.empty() ? std::exchange(first, {}) : m_source();
        return std::string_view(block.data(), block.size());
    });
}

XmlScanner::~XmlScanner() = default;

XmlScanner::Token XmlScanner::fail(const char *what)
{
    m_error = QString::fromLatin1(what);
    m_unfinished = Unfinished::Failed;
    m_pos = m_end;
    return Token::Error;
}

void XmlScanner::failEncoding(const QByteArray &name, bool mismatch)
{
    m_failure = mismatch ? ReadOutcome::damaged(
                                   QCoreApplication::translate("Documents", "its XML declares the encoding %1 but is not written in it")
                                           .arg(QString::fromLatin1(name)))
                         : ReadOutcome::fail(ReadError::Encoding, QString::fromLatin1(name));
    m_error = m_failure.detail;
    m_unfinished = Unfinished::Failed;
    m_pos = m_end;
}

ReadOutcome XmlScanner::failure() const
{
    return m_failure.ok() ? ReadOutcome::damaged(m_error) : m_failure;
}

bool XmlScanner::fetch()
{
    const std::span<char> block = m_transcoder ? m_transcoder->next() : m_source ? m_source() : std::span<char>();
    if (block.empty()) {
        m_final = true;
        return false;
    }
    // What is left of the last block (an unfinished token) goes in front of the new one.
    const qint64 at = offset();
    const size_t tail = size_t(m_end - m_pos);
    const bool inCarry = !m_carry.empty() && m_pos >= m_carry.data() && m_pos <= m_carry.data() + m_carry.size();
    if (tail <= size_t(kCarryRoom)) {
        char *start = block.data() - tail;
        if (tail)
            std::memcpy(start, m_pos, tail);
        m_base = m_pos = start;
        m_end = block.data() + block.size();
        if (m_carry.capacity() > size_t(kCarryRoom))
            std::vector<char>().swap(m_carry);
        else
            m_carry.clear();
    } else {
        // A long token (a tag with a great many attributes): gathered in memory of our own,
        // block after block; what it has gone past is dropped once that is the larger part.
        size_t keep = 0;
        if (!inCarry) {
            m_carry.assign(m_pos, m_end);
        } else if (size_t(m_pos - m_carry.data()) > tail) {
            std::memmove(m_carry.data(), m_pos, tail);
            m_carry.resize(tail);
        } else {
            keep = size_t(m_pos - m_carry.data());
        }
        m_carry.insert(m_carry.end(), block.begin(), block.end());
        m_base = m_pos = m_carry.data() + keep;
        m_end = m_carry.data() + m_carry.size();
    }
    m_origin = at;
    return true;
}

int XmlScanner::lookUp(std::string_view prefix) const
{
    const auto it = m_inScope.constFind(QByteArray::fromRawData(prefix.data(), qsizetype(prefix.size())));
    const int ns = it != m_inScope.cend() ? m_bindings[size_t(*it)].ns : prefix.empty() ? kNoNamespace : kOtherNamespace;
    if (prefix.size() <= sizeof(m_lastPrefix)) {
        if (!prefix.empty())
            std::memcpy(m_lastPrefix, prefix.data(), prefix.size());
        m_lastSize = int(prefix.size());
        m_lastNs = ns;
    }
    return ns;
}

void XmlScanner::bind(size_t from)
{
    for (size_t i = from; i < m_bindings.size(); ++i) {
        Binding &b = m_bindings[i];
        b.hidden = m_inScope.value(b.prefix, -1);
        m_inScope.insert(b.prefix, int(i));
    }
    m_lastSize = -1;
}

void XmlScanner::unbind(int depth)
{
    do {
        const Binding &b = m_bindings.back();
        if (b.hidden >= 0)
            m_inScope.insert(b.prefix, b.hidden);
        else
            m_inScope.remove(b.prefix);
        m_bindings.pop_back();
    } while (!m_bindings.empty() && m_bindings.back().depth > depth);
    m_lastSize = -1;
}

std::string_view XmlScanner::attribute(int ns, std::string_view localName, bool *found) const
{
    for (const Attribute &a : m_attributes) {
        if (a.local == localName && resolve(a.prefix, true) == ns) {
            if (found)
                *found = true;
            return a.value;
        }
    }
    if (found)
        *found = false;
    return {};
}

bool XmlScanner::skipPast(std::string_view terminator)
{
    const std::string_view rest(m_pos, size_t(m_end - m_pos));
    const auto at = rest.find(terminator);
    if (at == std::string_view::npos) {
        // Only what could begin the terminator is looked at again.
        m_pos = std::max(m_pos, m_end - (terminator.size() - 1));
        return false;
    }
    m_pos += at + terminator.size();
    return true;
}

const char *XmlScanner::closeQuote(const char *p)
{
    const void *q = std::memchr(p, m_quote, size_t(m_end - p));
    if (!q)
        return m_end;
    m_quote = 0;
    return static_cast<const char *>(q) + 1;
}

bool XmlScanner::skipDoctype()
{
    // Skipped unread, internal subset and all: declarations here are never acted upon.
    const char *p = m_pos;
    while (p < m_end) {
        if (m_quote) {
            p = closeQuote(p);
            continue;
        }
        const char c = *p++;
        if (c == '"' || c == '\'')
            m_quote = c;
        else if (c == '[')
            ++m_doctypeSubset;
        else if (c == ']')
            m_doctypeSubset = std::max(0, m_doctypeSubset - 1);
        else if (c == '>' && m_doctypeSubset == 0) {
            m_pos = p;
            return true;
        }
    }
    m_pos = p;
    return false;
}

bool XmlScanner::findTagEnd()
{
    // Goes on where the last block ended; the tag itself stays to be parsed once it is whole.
    const char *p = m_pos + m_tagScanned;
    while (p < m_end) {
        if (m_quote) {
            p = closeQuote(p);
            continue;
        }
        const char c = *p++;
        if (c == '>')
            return true;
        if (c == '"' || c == '\'')
            m_quote = c;
    }
    m_tagScanned = size_t(p - m_pos);
    return false;
}

XmlScanner::Token XmlScanner::scan()
{
    // Where markup runs on beyond the data there is, what is left of it is kept in front of the
    // next block (fetch) and the scan goes on; at the end of the XML that is an error instead.
    for (;;) {
        bool wholeTag = false;
        switch (m_unfinished) {
        case Unfinished::None:
            break;
        case Unfinished::Failed:
            return Token::Error;
        case Unfinished::Comment:
            if (!skipPast("-->")) {
                if (m_final)
                    return fail("its XML ends in the middle of a comment");
                fetch();
                continue;
            }
            m_unfinished = Unfinished::None;
            continue;
        case Unfinished::Instruction:
            if (!skipPast("?>")) {
                if (m_final)
                    return fail("its XML ends in the middle of a processing instruction");
                fetch();
                continue;
            }
            m_unfinished = Unfinished::None;
            continue;
        case Unfinished::Doctype:
            if (!skipDoctype()) {
                if (m_final)
                    return fail("its XML ends in the middle of a document type declaration");
                fetch();
                continue;
            }
            m_unfinished = Unfinished::None;
            continue;
        case Unfinished::CData: {
            const Token t = cdata();
            if (t == kNeedMore)
                fetch();
            else if (t != Token::Text || !m_stack.empty())
                return t;
            continue; // character data outside the root element is skipped
        }
        case Unfinished::Tag:
            if (!findTagEnd()) {
                if (m_tagScanned > size_t(kMaxTagSize))
                    return fail("its XML has a tag too long to be part of a document");
                if (m_final)
                    return fail("its XML ends in the middle of a tag");
                fetch();
                continue;
            }
            m_unfinished = Unfinished::None;
            wholeTag = true;
            break;
        }
        if (m_pos >= m_end) {
            if (!m_final) {
                fetch();
                continue;
            }
            if (!m_stack.empty())
                return fail("its XML ends in the middle of an element");
            return Token::End;
        }
        if (*m_pos != '<') {
            const char *lt = findByte(m_pos, m_end, '<');
            const char *end = lt ? lt : m_end;
            if (!lt && !m_final) {
                if (m_stack.empty()) // white space outside the root element: nothing to keep
                    m_pos = m_end;
                if (m_end - m_pos < kTextPiece) {
                    fetch();
                    continue;
                }
                end = textCut(m_pos, m_end);
            }
            m_text = std::string_view(m_pos, size_t(end - m_pos));
            m_cdata = false;
            m_pos = end;
            if (!m_stack.empty())
                return Token::Text;
            continue;
        }
        if (m_end - m_pos < 9 && !m_final) {
            // Too little to tell which markup this is: wait for more.
            fetch();
            continue;
        }
        if (m_end - m_pos < 2)
            return fail("its XML ends in the middle of a tag");
        const char c = m_pos[1];
        if (c == '?') {
            ++m_pos;
            m_unfinished = Unfinished::Instruction;
            continue;
        }
        if (c == '!') {
            const std::string_view rest(m_pos, size_t(std::min<ptrdiff_t>(m_end - m_pos, 9)));
            if (rest.starts_with("<!--")) {
                m_pos += 4;
                m_unfinished = Unfinished::Comment;
            } else if (rest.starts_with("<![CDATA[")) {
                m_pos += 9;
                m_unfinished = Unfinished::CData;
            } else if (rest.starts_with("<!DOCTYPE")) {
                m_pos += 9;
                m_doctypeSubset = 0;
                m_quote = 0;
                m_unfinished = Unfinished::Doctype;
            } else {
                return fail("its XML holds a declaration that is not allowed there");
            }
            continue;
        }
        if (const Token t = c == '/' ? endTag() : startTag(); t != kNeedMore)
            return t;
        if (wholeTag)
            return fail("its XML has a malformed tag");
        // The tag runs on beyond the block: find its end first, so that a long one is parsed once.
        m_tagScanned = 0;
        m_quote = 0;
        m_unfinished = Unfinished::Tag;
    }
}

XmlScanner::Token XmlScanner::cdata()
{
    const std::string_view rest(m_pos, size_t(m_end - m_pos));
    const auto at = rest.find("]]>");
    if (at != std::string_view::npos) {
        m_text = rest.substr(0, at);
        m_pos += at + 3;
        m_unfinished = Unfinished::None;
    } else {
        if (m_final)
            return fail("its XML ends in the middle of a CDATA section");
        // What is there, short of what could begin "]]>" and of a character the block cuts.
        const char *end = characterCut(m_pos, m_end - std::min<ptrdiff_t>(2, m_end - m_pos));
        if (end == m_pos)
            return kNeedMore;
        m_text = std::string_view(m_pos, size_t(end - m_pos));
        m_pos = end;
    }
    m_cdata = true;
    return Token::Text;
}

XmlScanner::Token XmlScanner::startTag()
{
    const char *nameStart = m_pos + 1;
    const char *p = nameEnd(nameStart, m_end);
    if (p >= m_end)
        return m_final ? fail("its XML ends in the middle of a tag") : kNeedMore;
    if (p == nameStart)
        return fail("its XML has a tag without a name");
    const std::string_view qname(nameStart, size_t(p - nameStart));
    if (qname.size() > size_t(kMaxNameSize))
        return fail("its XML has a name too long to be part of a document");
    if (m_stack.size() >= size_t(kMaxDepth))
        return fail("its XML nests too deeply");
    const int depth = int(m_stack.size()) + 1;

    m_attributes.clear();
    const size_t bindings = m_bindings.size();
    // Declarations count only once the tag is whole.
    const auto needMore = [this, bindings] {
        m_bindings.resize(bindings);
        return m_final ? fail("its XML ends in the middle of a tag") : kNeedMore;
    };
    bool selfClosing = false;
    for (;;) {
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end)
            return needMore();
        if (p - m_pos > kMaxTagSize)
            return fail("its XML has a tag too long to be part of a document");
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (p + 1 >= m_end)
                return needMore();
            if (p[1] == '>') {
                selfClosing = true;
                p += 2;
                break;
            }
            return fail("its XML has a malformed tag");
        }
        const char *attrStart = p;
        p = nameEnd(p, m_end);
        const std::string_view attrName(attrStart, size_t(p - attrStart));
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end)
            return needMore();
        if (attrName.empty() || *p != '=')
            return fail("its XML has a malformed attribute");
        ++p;
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end)
            return needMore();
        if (*p != '"' && *p != '\'')
            return fail("its XML has a malformed attribute");
        const char quote = *p++;
        const char *close = findByte(p, m_end, quote);
        if (!close)
            return needMore();
        Attribute a;
        splitQName(attrName, a.prefix, a.local);
        a.value = std::string_view(p, size_t(close - p));
        p = close + 1;
        int ns;
        if (a.prefix.empty() && a.local == "xmlns")
            ns = kNoNamespace;
        else if (a.prefix == "xmlns")
            ns = kOtherNamespace;
        else {
            m_attributes.push_back(a);
            continue;
        }
        if (!a.value.empty()) {
            ns = kOtherNamespace;
            for (size_t i = 0; i < m_namespaces.size(); ++i)
                if (m_namespaces[i] == a.value)
                    ns = int(i);
        }
        if (m_bindings.size() >= size_t(kMaxBindings))
            return fail("its XML declares too many namespaces");
        const std::string_view bound = a.prefix.empty() ? std::string_view() : a.local;
        m_bindings.push_back({QByteArray(bound.data(), qsizetype(bound.size())), ns, depth, -1});
    }
    if (m_bindings.size() > bindings)
        bind(bindings);
    std::string_view prefix;
    splitQName(qname, prefix, m_localName);
    m_elementNs = resolve(prefix, false);
    OpenElement &open = m_stack.emplace_back();
    open.nameSize = uint32_t(qname.size());
    open.localAt = uint32_t(prefix.empty() ? 0 : prefix.size() + 1);
    open.ns = m_elementNs;
    if (qname.size() <= kShortName && m_end - qname.data() >= ptrdiff_t(kShortName)) {
        std::memcpy(open.shortName, qname.data(), kShortName); // one fixed-size move, no call
    } else if (qname.size() <= kShortName) {
        std::memcpy(open.shortName, qname.data(), qname.size());
    } else {
        open.nameAt = m_names.size();
        m_names.append(qname);
    }
    m_pendingEnd = selfClosing;
    m_pos = p;
    return Token::StartElement;
}

XmlScanner::Token XmlScanner::endTag()
{
    const char *p = m_pos + 2;
    if (m_stack.empty())
        return fail("its XML elements are not properly nested");
    // The end tag names the element it closes, and its name and namespace were resolved then.
    const OpenElement &open = m_stack.back();
    const std::string_view openName = open.name(m_names);
    const char *nameStart = p;
    const size_t length = openName.size();
    if (size_t(m_end - p) > length && p[length] == '>' && sameName(std::string_view(p, length), openName)) {
        p += length;
    } else {
        while (p < m_end && !endsName(*p))
            ++p;
        const std::string_view qname(nameStart, size_t(p - nameStart));
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end)
            return m_final ? fail("its XML ends in the middle of a tag") : kNeedMore;
        if (*p != '>' || !sameName(openName, qname))
            return fail("its XML elements are not properly nested");
    }
    // The end tag spells the name as the start tag did: its local part is found there too.
    m_localName = std::string_view(nameStart + open.localAt, length - open.localAt);
    m_elementNs = open.ns;
    popElement();
    m_pos = p + 1;
    return Token::EndElement;
}

void XmlScanner::appendDecoded(std::string_view raw, bool cdata, std::u16string &out)
{
    // UTF-16 never needs more units than UTF-8 has bytes, nor an entity more than its reference;
    // one block more lets the copy of plain runs always store whole blocks.
    const size_t old = out.size();
    out.resize(old + raw.size() + kPlainBlock);
    char16_t *o = out.data() + old;
    const auto *p = reinterpret_cast<const unsigned char *>(raw.data());
    const auto *end = p + raw.size();
    while (p < end) {
        const size_t plain = copyPlain(p, end, o, cdata);
        p += plain;
        o += plain;
        if (p >= end)
            break;
        if (*p < 0x80) {
            char32_t cp;
            if (*p == '&' && !cdata) {
                if (const size_t len = decodeEntity(reinterpret_cast<const char *>(p + 1),
                                                    reinterpret_cast<const char *>(end), cp)) {
                    o = putUtf16(o, cp);
                    p += len + 1;
                    continue;
                }
            }
            *o++ = *p++;
            continue;
        }
        // Non-ASCII text tends to come in runs (a Cyrillic or Chinese word): decode the whole run
        // before looking for plain bytes again.
        do {
            char32_t cp = 0;
            const int len = decodeUtf8(p, end - p, cp);
            if (len > 0) {
                o = putUtf16(o, cp);
                p += len;
            } else { // malformed, or cut off by the end of the text
                *o++ = 0xFFFD;
                ++p;
            }
        } while (p < end && *p >= 0x80);
    }
    out.resize(o - out.data());
}

XmlBlockReader::XmlBlockReader(Read read, qsizetype blockSize, qsizetype maxBlockSize)
    : m_read(std::move(read)), m_blockSize(blockSize), m_maxBlockSize(std::max(blockSize, maxBlockSize))
{
}

std::span<char> XmlBlockReader::next()
{
    if (m_done)
        return {};
    // The buffer of the block before last is free again: the scanner has moved on from it.
    Buffer &buffer = m_buffers[m_turn];
    m_turn ^= 1;
    if (buffer.size < m_blockSize) {
        buffer.data.reset(new char[size_t(XmlScanner::kCarryRoom + m_blockSize)]);
        buffer.size = m_blockSize;
    }
    char *block = buffer.data.get() + XmlScanner::kCarryRoom;
    const qsizetype filled = fill(m_read, block, m_blockSize, &m_done);
    // More than the first block: blocks grow, so that a part bigger than it said is read in few.
    m_blockSize = std::min(m_blockSize * 2, m_maxBlockSize);
    return {block, size_t(filled)};
}

qsizetype XmlBlockReader::fill(const Read &read, char *block, qsizetype size, bool *end)
{
    qsizetype filled = 0;
    while (filled < size) {
        const qint64 n = read(block + filled, size - filled);
        if (n <= 0) {
            *end = true;
            break;
        }
        filled += qsizetype(n);
    }
    return filled;
}

} // namespace corvalen
