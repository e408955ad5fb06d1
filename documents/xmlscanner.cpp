#include "documents/xmlscanner.h"
#include "engine/utf8.h"

#include "documents/textreader.h"

#include <QStringDecoder>

#include <array>
#include <cstring>

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

} // namespace

XmlScanner::XmlScanner(std::string_view data, std::span<const std::string_view> namespaces)
    : m_begin(data.data()), m_pos(data.data()), m_end(data.data() + data.size()), m_namespaces(namespaces)
{
    m_stack.reserve(64);
}

void XmlScanner::setAvailable(size_t available, bool final)
{
    m_end = m_begin + available;
    m_final = final;
}

XmlScanner::Token XmlScanner::fail(const char *what)
{
    m_error = QString::fromLatin1(what);
    m_pos = m_end;
    m_stack.clear();
    return Token::Error;
}

int XmlScanner::resolve(std::string_view prefix, bool isAttribute) const
{
    if (prefix.empty() && isAttribute)
        return kNoNamespace;
    for (auto it = m_bindings.rbegin(); it != m_bindings.rend(); ++it)
        if (sameName(it->prefix, prefix))
            return it->ns;
    return prefix.empty() ? kNoNamespace : kOtherNamespace;
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
    const std::string_view rest(m_pos, m_end - m_pos);
    const auto at = rest.find(terminator);
    if (at == std::string_view::npos)
        return false;
    m_pos += at + terminator.size();
    return true;
}

bool XmlScanner::skipDoctype()
{
    // Skipped unread, internal subset and all: declarations here are never acted upon.
    int subset = 0;
    const char *p = m_pos + 9;
    while (p < m_end) {
        const char c = *p;
        if (c == '"' || c == '\'') {
            const void *q = std::memchr(p + 1, c, m_end - p - 1);
            if (!q)
                return false;
            p = static_cast<const char *>(q) + 1;
            continue;
        }
        if (c == '[')
            ++subset;
        else if (c == ']')
            subset = std::max(0, subset - 1);
        else if (c == '>' && subset == 0) {
            m_pos = p + 1;
            return true;
        }
        ++p;
    }
    return false;
}

XmlScanner::Token XmlScanner::next()
{
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_stack.pop_back();
        while (!m_bindings.empty() && m_bindings.back().depth > int(m_stack.size()))
            m_bindings.pop_back();
        return Token::EndElement;
    }
    for (;;) {
        const char *const tokenStart = m_pos;
        // Data still arriving: a token that runs into the end is read again when there is more.
        const auto needMore = [&] {
            // A token that already spans a lot (a huge comment, say) would be scanned again and
            // again as data trickles in; better to wait for all of it once.
            if (m_end - tokenStart > kLongToken)
                m_wantsEverything = true;
            m_pos = tokenStart;
            return Token::NeedMore;
        };
        if (m_pos >= m_end) {
            if (!m_final)
                return Token::NeedMore;
            if (!m_stack.empty())
                return fail("its XML ends in the middle of an element");
            return Token::End;
        }
        if (*m_pos != '<') {
            const char *lt = findByte(m_pos, m_end, '<');
            if (!lt) {
                if (!m_final)
                    return needMore();
                lt = m_end;
            }
            m_text = std::string_view(m_pos, lt - m_pos);
            m_cdata = false;
            m_pos = lt;
            if (!m_stack.empty())
                return Token::Text;
            continue; // white space outside the root element
        }
        if (m_end - m_pos < 2)
            return m_final ? fail("its XML ends in the middle of a tag") : needMore();
        const char c = m_pos[1];
        if (c == '/') {
            const Token t = endTag();
            return t == Token::NeedMore ? needMore() : t;
        }
        if (c == '?') {
            if (!skipPast("?>"))
                return !m_final ? needMore() : fail("its XML ends in the middle of a processing instruction");
            continue;
        }
        if (c == '!') {
            if (!m_final && m_end - m_pos < 9)
                return needMore();
            const std::string_view rest(m_pos, std::min<ptrdiff_t>(m_end - m_pos, 9));
            if (rest.starts_with("<!--")) {
                m_pos += 4;
                if (!skipPast("-->"))
                    return !m_final ? needMore() : fail("its XML ends in the middle of a comment");
                continue;
            }
            if (rest.starts_with("<![CDATA[")) {
                const char *start = m_pos + 9;
                m_pos = start;
                if (!skipPast("]]>"))
                    return !m_final ? needMore() : fail("its XML ends in the middle of a CDATA section");
                m_text = std::string_view(start, m_pos - 3 - start);
                m_cdata = true;
                if (!m_stack.empty())
                    return Token::Text;
                continue;
            }
            if (rest.starts_with("<!DOCTYPE")) {
                if (!skipDoctype())
                    return !m_final ? needMore() : fail("its XML ends in the middle of a document type declaration");
                continue;
            }
            return fail("its XML holds a declaration that is not allowed there");
        }
        const size_t bindings = m_bindings.size();
        const Token t = startTag();
        if (t == Token::NeedMore)
            m_bindings.resize(bindings);
        return t == Token::NeedMore ? needMore() : t;
    }
}

XmlScanner::Token XmlScanner::startTag()
{
    const char *nameStart = m_pos + 1;
    const char *p = nameEnd(nameStart, m_end);
    if (p == nameStart || p >= m_end)
        return p >= m_end ? (m_final ? fail("its XML ends in the middle of a tag") : Token::NeedMore)
                           : fail("its XML has a tag without a name");
    const std::string_view qname(nameStart, p - nameStart);
    if (m_stack.size() >= size_t(kMaxDepth))
        return fail("its XML nests too deeply");
    const int depth = int(m_stack.size()) + 1;

    m_attributes.clear();
    bool selfClosing = false;
    for (;;) {
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end)
            return m_final ? fail("its XML ends in the middle of a tag") : Token::NeedMore;
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (p + 1 >= m_end && !m_final)
                return Token::NeedMore;
            if (p + 1 < m_end && p[1] == '>') {
                selfClosing = true;
                p += 2;
                break;
            }
            return fail("its XML has a malformed tag");
        }
        const char *attrStart = p;
        p = nameEnd(p, m_end);
        const std::string_view attrName(attrStart, p - attrStart);
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end && !m_final)
            return Token::NeedMore;
        if (attrName.empty() || p >= m_end || *p != '=')
            return fail("its XML has a malformed attribute");
        ++p;
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end && !m_final)
            return Token::NeedMore;
        if (p >= m_end || (*p != '"' && *p != '\''))
            return fail("its XML has a malformed attribute");
        const char quote = *p++;
        const char *close = findByte(p, m_end, quote);
        if (!close)
            return m_final ? fail("its XML ends in the middle of a tag") : Token::NeedMore;
        Attribute a;
        splitQName(attrName, a.prefix, a.local);
        a.value = std::string_view(p, close - p);
        p = close + 1;
        if (a.prefix.empty() && a.local == "xmlns") {
            m_bindings.push_back({std::string_view(), kNoNamespace, depth});
        } else if (a.prefix == "xmlns") {
            m_bindings.push_back({a.local, kOtherNamespace, depth});
        } else {
            m_attributes.push_back(a);
            continue;
        }
        if (!a.value.empty()) {
            m_bindings.back().ns = kOtherNamespace;
            for (size_t i = 0; i < m_namespaces.size(); ++i)
                if (m_namespaces[i] == a.value)
                    m_bindings.back().ns = int(i);
        }
    }
    std::string_view prefix;
    splitQName(qname, prefix, m_localName);
    m_elementNs = resolve(prefix, false);
    m_stack.push_back({qname, m_localName, m_elementNs});
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
    const size_t length = open.qname.size();
    if (size_t(m_end - p) > length && p[length] == '>' && sameName(std::string_view(p, length), open.qname)) {
        p += length;
    } else {
        const char *nameStart = p;
        while (p < m_end && !endsName(*p))
            ++p;
        const std::string_view qname(nameStart, p - nameStart);
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end)
            return m_final ? fail("its XML ends in the middle of a tag") : Token::NeedMore;
        if (*p != '>' || !sameName(open.qname, qname))
            return fail("its XML elements are not properly nested");
    }
    m_localName = open.localName;
    m_elementNs = open.ns;
    m_stack.pop_back();
    while (!m_bindings.empty() && m_bindings.back().depth > int(m_stack.size()))
        m_bindings.pop_back();
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

void normaliseXmlEncoding(QByteArray &xml)
{
    int bomLength = 0;
    const auto bom = encodingFromBom(xml, &bomLength);
    if (bom && *bom == QStringConverter::Utf8) {
        xml.remove(0, bomLength);
        return;
    }
    if (bom) {
        QStringDecoder decoder(*bom);
        xml = QString(decoder(xml)).toUtf8();
        return;
    }
    // A declared 8-bit encoding other than UTF-8 (rare in packages, allowed by XML).
    if (!xml.startsWith("<?xml"))
        return;
    const qsizetype declEnd = xml.indexOf("?>");
    const qsizetype enc = xml.indexOf("encoding=", 0);
    if (declEnd < 0 || enc < 0 || enc > declEnd || enc + 10 >= declEnd)
        return;
    const char quote = xml.at(enc + 9);
    const qsizetype close = xml.indexOf(quote, enc + 10);
    if (close < 0 || close > declEnd)
        return;
    const QByteArray name = xml.mid(enc + 10, close - enc - 10).toLower();
    if (name == "utf-8" || name == "utf8")
        return;
    QStringDecoder decoder(name.constData());
    if (decoder.isValid())
        xml = QString(decoder(xml)).toUtf8();
}

} // namespace corvalen
