#include "documents/htmlreader.h"

#include "documents/textreader.h"
#include "documents/zippackage.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>

#include <string>

namespace corvalen {

namespace {

constexpr qsizetype kFlushSize = 1 << 16;

QString tr(const char *s)
{
    return QCoreApplication::translate("Documents", s);
}

// Entity names of U+00A0..U+00FF, in order.
constexpr const char *kLatin1Entities[96] = {
    "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf",
    "laquo", "not", "shy", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro", "para",
    "middot", "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave", "Eacute", "Ecirc",
    "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve", "Oacute", "Ocirc",
    "Otilde", "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN",
    "szlig", "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave",
    "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde", "ograve",
    "oacute", "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave", "uacute", "ucirc", "uuml",
    "yacute", "thorn", "yuml",
};

// Greek letters U+0391..U+03A9 and U+03B1..U+03C9 (U+03A2 is unassigned).
constexpr const char *kGreek[25] = {
    "Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Zeta", "Eta", "Theta", "Iota", "Kappa", "Lambda",
    "Mu", "Nu", "Xi", "Omicron", "Pi", "Rho", "", "Sigma", "Tau", "Upsilon", "Phi", "Chi", "Psi", "Omega",
};

struct NamedEntity
{
    const char *name;
    char16_t value;
};
constexpr NamedEntity kOtherEntities[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"OElig", 0x152},
    {"oelig", 0x153}, {"Scaron", 0x160}, {"scaron", 0x161}, {"Yuml", 0x178}, {"fnof", 0x192},
    {"circ", 0x2C6}, {"tilde", 0x2DC}, {"ensp", 0x2002}, {"emsp", 0x2003}, {"thinsp", 0x2009},
    {"zwnj", 0x200C}, {"zwj", 0x200D}, {"lrm", 0x200E}, {"rlm", 0x200F}, {"ndash", 0x2013},
    {"mdash", 0x2014}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"sbquo", 0x201A}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"bdquo", 0x201E}, {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022},
    {"hellip", 0x2026}, {"permil", 0x2030}, {"prime", 0x2032}, {"Prime", 0x2033}, {"lsaquo", 0x2039},
    {"rsaquo", 0x203A}, {"oline", 0x203E}, {"frasl", 0x2044}, {"euro", 0x20AC}, {"trade", 0x2122},
    {"larr", 0x2190}, {"uarr", 0x2191}, {"rarr", 0x2192}, {"darr", 0x2193}, {"harr", 0x2194},
    {"minus", 0x2212}, {"infin", 0x221E}, {"ne", 0x2260}, {"le", 0x2264}, {"ge", 0x2265},
    {"asymp", 0x2248}, {"sigmaf", 0x3C2}, {"thetasym", 0x3D1}, {"piv", 0x3D6}, {"loz", 0x25CA},
    {"spades", 0x2660}, {"clubs", 0x2663}, {"hearts", 0x2665}, {"diams", 0x2666},
};

// Windows-1252 meanings of 0x80..0x9F, which browsers give to these character references too.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

bool sameName(QStringView name, const char *ascii)
{
    qsizetype i = 0;
    for (; ascii[i]; ++i)
        if (i >= name.size() || name[i] != QLatin1Char(ascii[i]))
            return false;
    return i == name.size();
}

char32_t namedEntity(QStringView name)
{
    for (int i = 0; i < 96; ++i)
        if (sameName(name, kLatin1Entities[i]))
            return 0xA0 + i;
    for (const NamedEntity &e : kOtherEntities)
        if (sameName(name, e.name))
            return e.value;
    for (int i = 0; i < 25; ++i) {
        if (!*kGreek[i])
            continue;
        if (sameName(name, kGreek[i]))
            return 0x391 + i;
        if (name.size() > 0 && name[0].isLower() && name.size() == qsizetype(std::strlen(kGreek[i]))
            && name[0] == QChar(kGreek[i][0]).toLower() && sameName(name.sliced(1), kGreek[i] + 1))
            return 0x3B1 + i;
    }
    return 0;
}

bool isHtmlSpace(char16_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isOneOf(QStringView name, std::initializer_list<const char *> names)
{
    for (const char *n : names)
        if (sameName(name, n))
            return true;
    return false;
}

bool isBlock(QStringView n)
{
    return isOneOf(n, {"p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "li", "dt", "dd", "ul", "ol",
                       "dl", "blockquote", "pre", "table", "tr", "td", "th", "caption", "thead",
                       "tbody", "tfoot", "address", "article", "aside", "section", "header",
                       "footer", "nav", "main", "figure", "figcaption", "form", "fieldset",
                       "legend", "hr", "center", "details", "summary", "body", "html", "menu",
                       "dir", "hgroup", "dialog", "listing", "xmp"});
}

// Elements whose content is raw text up to their end tag, not shown as body text.
bool isRawSkipped(QStringView n)
{
    return isOneOf(n, {"script", "style", "title", "textarea", "xmp", "iframe", "noembed",
                       "noframes", "noscript", "template", "xml", "select", "object", "svg", "math"});
}

bool isVoid(QStringView n)
{
    return isOneOf(n, {"br", "img", "meta", "link", "input", "hr", "area", "base", "col", "embed",
                       "param", "source", "track", "wbr", "basefont", "frame", "keygen"});
}

qsizetype indexOfCaseless(QStringView s, qsizetype from, QStringView what)
{
    return s.indexOf(what, from, Qt::CaseInsensitive);
}

class HtmlWalker
{
public:
    explicit HtmlWalker(const TextSink &sink) : m_sink(sink) { m_out.reserve(kFlushSize + 256); }

    void run(QStringView s)
    {
        const qsizetype n = s.size();
        qsizetype i = 0;
        while (i < n) {
            const char16_t c = s[i].unicode();
            if (c == '<' && i + 1 < n) {
                const char16_t d = s[i + 1].unicode();
                if (d == '!') {
                    i = markupDeclaration(s, i);
                    continue;
                }
                if (d == '?') {
                    const qsizetype gt = s.indexOf(u'>', i);
                    i = gt < 0 ? n : gt + 1;
                    continue;
                }
                if (d == '/' || (d < 128 && std::isalpha(int(d)))) {
                    i = tag(s, i);
                    continue;
                }
            }
            if (c == '&') {
                i = entity(s, i);
                continue;
            }
            text(c);
            ++i;
        }
        paragraphBreak();
        flush();
    }

private:
    void flush()
    {
        if (!m_out.empty()) {
            m_sink(QStringView(m_out.data(), qsizetype(m_out.size())));
            m_out.clear();
        }
    }

    bool skipping() const { return m_inHead || !m_skipName.isEmpty(); }

    void put(char16_t c)
    {
        m_out.push_back(c);
        if (m_out.size() >= size_t(kFlushSize))
            flush();
    }

    void text(char16_t c)
    {
        if (skipping())
            return;
        if (m_pre) {
            if (c == '\r')
                return;
            if (c == '\n') {
                put(13);
                m_hasContent = false;
                return;
            }
        } else if (isHtmlSpace(c)) {
            m_spacePending = m_lastWasContent;
            return;
        }
        if (m_spacePending)
            put(' ');
        m_spacePending = false;
        put(c);
        m_hasContent = m_lastWasContent = true;
    }

    void paragraphBreak()
    {
        if (m_hasContent)
            put(13);
        m_hasContent = m_lastWasContent = m_spacePending = false;
    }

    qsizetype entity(QStringView s, qsizetype i)
    {
        const qsizetype n = s.size();
        qsizetype j = i + 1;
        while (j < n && j - i < 33 && (s[j].isLetterOrNumber() || s[j] == u'#') && s[j].unicode() < 128)
            ++j;
        const QStringView name = s.sliced(i + 1, j - i - 1);
        const bool semicolon = j < n && s[j] == u';';
        char32_t cp = 0;
        if (name.startsWith(u'#') && name.size() > 1) {
            const bool hex = name[1] == u'x' || name[1] == u'X';
            bool ok = false;
            const qulonglong v = name.sliced(hex ? 2 : 1).toULongLong(&ok, hex ? 16 : 10);
            if (ok) {
                if (v >= 0x80 && v <= 0x9F)
                    cp = kCp1252High[v - 0x80];
                else if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
                    cp = 0xFFFD;
                else
                    cp = char32_t(v);
            }
        } else if (semicolon || isOneOf(name, {"amp", "lt", "gt", "quot", "nbsp", "copy", "reg"})) {
            cp = namedEntity(name);
        }
        if (!cp) {
            text(u'&');
            return i + 1;
        }
        if (cp >= 0x10000) {
            text(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            text(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            text(char16_t(cp));
        }
        return semicolon ? j + 1 : j;
    }

    qsizetype markupDeclaration(QStringView s, qsizetype i)
    {
        const qsizetype n = s.size();
        if (s.sliced(i).startsWith(u"<!--")) {
            const qsizetype end = s.indexOf(u"-->", i + 4);
            const QStringView body = s.sliced(i + 4, (end < 0 ? n : end) - i - 4);
            // Word's list labels sit in conditional blocks that only old browsers show.
            if (body.startsWith(u"[if") && body.contains(u"supportLists")) {
                const qsizetype endif = s.indexOf(u"[endif]", end < 0 ? n : end);
                const qsizetype close = endif < 0 ? -1 : s.indexOf(u'>', endif);
                return close < 0 ? n : close + 1;
            }
            return end < 0 ? n : end + 3;
        }
        const qsizetype gt = s.indexOf(u'>', i);
        if (s.sliced(i).startsWith(u"<![if") && s.sliced(i, (gt < 0 ? n : gt) - i).contains(u"supportLists")) {
            const qsizetype endif = s.indexOf(u"<![endif]>", i);
            return endif < 0 ? n : endif + 10;
        }
        return gt < 0 ? n : gt + 1; // DOCTYPE, <![endif]>, CDATA openers
    }

    qsizetype tag(QStringView s, qsizetype i)
    {
        const qsizetype n = s.size();
        const bool closing = s[i + 1] == u'/';
        qsizetype j = i + (closing ? 2 : 1);
        const qsizetype nameStart = j;
        while (j < n && (s[j].isLetterOrNumber() || s[j] == u'-' || s[j] == u':') && s[j].unicode() < 128)
            ++j;
        const QString name = s.sliced(nameStart, j - nameStart).toString().toLower();
        // The end of the tag, quoted attribute values skipped.
        char16_t quote = 0;
        for (; j < n; ++j) {
            const char16_t c = s[j].unicode();
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
        }
        const qsizetype end = j < n ? j + 1 : n;
        const QStringView attributes = s.sliced(nameStart, std::max<qsizetype>(0, j - nameStart));
        if (closing)
            endTag(name);
        else
            startTag(name, attributes, s, end);
        if (!closing && m_rawSkip) {
            m_rawSkip = false;
            // Raw text: nothing inside is markup, so jump to the matching end tag at once.
            const QString closeTag = u"</" % name;
            const qsizetype close = indexOfCaseless(s, end, closeTag);
            if (close < 0)
                return n;
            const qsizetype gt = s.indexOf(u'>', close);
            return gt < 0 ? n : gt + 1;
        }
        return end;
    }

    void startTag(const QString &name, QStringView attributes, QStringView, qsizetype)
    {
        if (!m_skipName.isEmpty()) {
            if (name == m_skipName && !isVoid(name))
                ++m_skipLevel;
            return;
        }
        if (name == u"head") {
            m_inHead = true;
            return;
        }
        if (name == u"body") {
            m_inHead = false;
            paragraphBreak();
            return;
        }
        if (isRawSkipped(name)) {
            m_rawSkip = true;
            return;
        }
        if (m_inHead)
            return;
        // Word's footnote and comment marks and the lists of their texts.
        if (attributes.contains(u"mso-footnote-id", Qt::CaseInsensitive)
            || attributes.contains(u"mso-endnote-id", Qt::CaseInsensitive)
            || attributes.contains(u"mso-element:footnote-list", Qt::CaseInsensitive)
            || attributes.contains(u"mso-element:endnote-list", Qt::CaseInsensitive)
            || attributes.contains(u"mso-element:comment-list", Qt::CaseInsensitive)
            || attributes.contains(u"MsoCommentReference", Qt::CaseInsensitive)) {
            if (!isVoid(name)) {
                m_skipName = name;
                m_skipLevel = 1;
            }
            return;
        }
        if (name == u"br") {
            put(11);
            m_hasContent = true;
            m_lastWasContent = m_spacePending = false;
            return;
        }
        if (isBlock(name)) {
            paragraphBreak();
            if (name == u"pre" || name == u"listing")
                m_pre = true;
        }
    }

    void endTag(const QString &name)
    {
        if (!m_skipName.isEmpty()) {
            if (name == m_skipName && --m_skipLevel == 0)
                m_skipName.clear();
            return;
        }
        if (name == u"head") {
            m_inHead = false;
            return;
        }
        if (isBlock(name)) {
            paragraphBreak();
            if (name == u"pre" || name == u"listing")
                m_pre = false;
        }
    }

    const TextSink &m_sink;
    std::u16string m_out;
    bool m_inHead = false;
    bool m_rawSkip = false;
    bool m_pre = false;
    bool m_hasContent = false;     // the current paragraph has text
    bool m_lastWasContent = false; // white space now would separate words
    bool m_spacePending = false;
    QString m_skipName;
    int m_skipLevel = 0;
};

} // namespace

QByteArray htmlCharset(QByteArrayView bytes)
{
    if (const auto bom = encodingFromBom(bytes))
        return QStringConverter::nameForEncoding(*bom);
    const QByteArrayView first = bytes.first(std::min<qsizetype>(bytes.size(), 4096));
    // UTF-16 without a byte order mark: a declaration in it cannot be read as ASCII below anyway.
    if (const auto utf16 = utf16FromZeroBytes(first))
        return QStringConverter::nameForEncoding(*utf16);
    const QByteArray head = first.toByteArray().toLower();
    const qsizetype at = head.indexOf("charset=");
    if (at >= 0) {
        qsizetype j = at + 8;
        while (j < head.size() && (head[j] == '"' || head[j] == '\'' || head[j] == ' '))
            ++j;
        qsizetype k = j;
        while (k < head.size() && (std::isalnum(uchar(head[k])) || head[k] == '-' || head[k] == '_'
                                   || head[k] == ':' || head[k] == '.'))
            ++k;
        QByteArray name = head.mid(j, k - j);
        // As browsers do: these labels mean Windows-1252 in practice.
        if (name == "iso-8859-1" || name == "latin1" || name == "us-ascii" || name == "ascii")
            name = "windows-1252";
        // The declaration was found by reading the bytes as ASCII, so it is only true of an
        // encoding in which it reads the same; UTF-16, UTF-32 or EBCDIC named there is a mistake.
        QStringDecoder declared(name.constData());
        if (!name.isEmpty() && declared.isValid()
            && QString(declared.decode(first)).toLower().contains(QLatin1StringView(head.sliced(at, k - at))))
            return name;
    }
    return isValidUtf8(bytes) ? QByteArray("UTF-8") : QByteArray("windows-1252");
}

void htmlBodyText(QStringView html, const TextSink &sink)
{
    if (html.startsWith(QChar(0xFEFF)))
        html = html.sliced(1); // a byte order mark the decoder kept
    HtmlWalker walker(sink);
    walker.run(html);
}

bool HtmlReader::recognises(QByteArrayView head) const
{
    int bomLength = 0;
    const auto bom = encodingFromBom(head, &bomLength);
    QByteArray text = head.sliced(bomLength).first(std::min<qsizetype>(head.size() - bomLength, 2048)).toByteArray();
    if (bom ? *bom != QStringConverter::Utf8 : utf16FromZeroBytes(text).has_value())
        text.replace('\0', QByteArrayView()); // crude, but enough to see the tags of UTF-16 pages
    text = text.trimmed().toLower();
    if (text.startsWith("<!doctype html") || text.startsWith("<html") || text.startsWith("<head"))
        return true;
    // An XML declaration or comments may come first.
    if (text.startsWith("<?xml") || text.startsWith("<!--"))
        return text.contains("<html");
    return false;
}

ReadOutcome HtmlReader::read(QFile &file, const TextSink &sink) const
{
    if (file.size() > ZipPackage::kMaxEntrySize)
        return ReadOutcome::fail(ReadError::OpenFailed, tr("it is too large"));
    file.seek(0);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return ReadOutcome::fail(ReadError::OpenFailed, file.errorString());
    QStringDecoder decoder(htmlCharset(bytes).constData());
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringConverter::Utf8);
    const QString html = decoder(bytes);
    htmlBodyText(html, sink);
    return ReadOutcome::success();
}

} // namespace corvalen
