#include "documents/rtfreader.h"

#include "documents/legacysupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QtGlobal>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace corvalen {

namespace {

QString tr(const char *s) { return QCoreApplication::translate("Documents", s); }

// Symbol fonts have no code page; their bytes name glyphs.
constexpr int SymbolCodepage = -2;

enum class Kw : uint8_t {
    Skip,       // a destination that is not body text
    FontTable,
    Char,       // a character (value in the table)
    Nothing,    // a mark that adds no character (note and comment references)
    Unicode,    // \uN
    UnicodeSkip,// \ucN
    Bin,
    AnsiCpg,
    Ansi, Mac, Pc, Pca,
    DefaultFont,
    Font,
    FontCharset,
    FontCodepage,
    Hidden,
    Deleted,
    Plain,
};

struct Keyword
{
    std::string_view name;
    Kw kind;
    char16_t value = 0;
};

constexpr std::array keywords = std::to_array<Keyword>({
    {"aftncn", Kw::Skip}, {"aftnsep", Kw::Skip}, {"aftnsepc", Kw::Skip},
    {"ansi", Kw::Ansi}, {"ansicpg", Kw::AnsiCpg},
    {"atnauthor", Kw::Skip}, {"atndate", Kw::Skip}, {"atnicn", Kw::Skip}, {"atnid", Kw::Skip},
    {"atnparent", Kw::Skip}, {"atnref", Kw::Skip}, {"atntime", Kw::Skip},
    {"annotation", Kw::Skip},
    {"bin", Kw::Bin}, {"bkmkend", Kw::Skip}, {"bkmkstart", Kw::Skip}, {"bullet", Kw::Char, 0x2022},
    {"cell", Kw::Char, 13}, {"chatn", Kw::Nothing}, {"chdate", Kw::Nothing}, {"chftn", Kw::Nothing},
    {"chftnsep", Kw::Nothing}, {"chftnsepc", Kw::Nothing}, {"chpgn", Kw::Nothing}, {"chtime", Kw::Nothing},
    {"colortbl", Kw::Skip}, {"column", Kw::Char, 14}, {"comment", Kw::Skip}, {"cpg", Kw::FontCodepage},
    {"datastore", Kw::Skip}, {"deff", Kw::DefaultFont}, {"deleted", Kw::Deleted}, {"do", Kw::Skip},
    {"docvar", Kw::Skip},
    {"emdash", Kw::Char, 0x2014}, {"emspace", Kw::Char, 0x2003}, {"endash", Kw::Char, 0x2013},
    {"enspace", Kw::Char, 0x2002},
    {"f", Kw::Font}, {"fcharset", Kw::FontCharset}, {"fldinst", Kw::Skip}, {"fonttbl", Kw::FontTable},
    {"footer", Kw::Skip}, {"footerf", Kw::Skip}, {"footerl", Kw::Skip}, {"footerr", Kw::Skip},
    {"footnote", Kw::Skip}, {"ftncn", Kw::Skip}, {"ftnsep", Kw::Skip}, {"ftnsepc", Kw::Skip},
    {"generator", Kw::Skip},
    {"header", Kw::Skip}, {"headerf", Kw::Skip}, {"headerl", Kw::Skip}, {"headerr", Kw::Skip},
    {"info", Kw::Skip},
    {"ldblquote", Kw::Char, 0x201C}, {"line", Kw::Char, 11}, {"listoverridetable", Kw::Skip},
    {"listtable", Kw::Skip}, {"listtext", Kw::Skip}, {"lquote", Kw::Char, 0x2018},
    {"ltrmark", Kw::Char, 0x200E},
    {"mac", Kw::Mac},
    {"nestcell", Kw::Char, 13}, {"nestrow", Kw::Char, 13}, {"nonesttables", Kw::Skip},
    {"nonshppict", Kw::Skip},
    {"object", Kw::Skip},
    {"page", Kw::Char, 12}, {"par", Kw::Char, 13}, {"pc", Kw::Pc}, {"pca", Kw::Pca},
    {"pgdsctbl", Kw::Skip}, {"pict", Kw::Skip}, {"plain", Kw::Plain}, {"pn", Kw::Skip},
    {"pntext", Kw::Skip}, {"private", Kw::Skip},
    {"qmspace", Kw::Char, 0x2005},
    {"rdblquote", Kw::Char, 0x201D}, {"revtbl", Kw::Skip}, {"row", Kw::Char, 13},
    {"rquote", Kw::Char, 0x2019}, {"rsidtbl", Kw::Skip}, {"rtlmark", Kw::Char, 0x200F},
    {"rxe", Kw::Skip},
    // A section break ends its paragraph, as in the other formats (a page-break character
    // here would join the words on either side).
    {"sect", Kw::Char, 13},
    {"shp", Kw::Skip}, {"shpgrp", Kw::Skip}, {"shppict", Kw::Skip}, {"shprslt", Kw::Skip},
    {"stylesheet", Kw::Skip},
    {"tab", Kw::Char, 9}, {"tc", Kw::Skip}, {"tcn", Kw::Skip}, {"template", Kw::Skip},
    {"txe", Kw::Skip},
    {"u", Kw::Unicode}, {"uc", Kw::UnicodeSkip}, {"upr", Kw::Skip}, {"userprops", Kw::Skip},
    {"v", Kw::Hidden},
    {"xe", Kw::Skip}, {"xmlnstbl", Kw::Skip},
    {"zwj", Kw::Char, 0x200D}, {"zwnj", Kw::Char, 0x200C},
});

// Control words come by the million in a large file; an open-addressing hash table finds one
// with a single comparison.
class KeywordTable
{
public:
    KeywordTable()
    {
        m_slots.fill(nullptr);
        for (const Keyword &k : keywords) {
            size_t i = hash(k.name) & (Slots - 1);
            while (m_slots[i])
                i = (i + 1) & (Slots - 1);
            m_slots[i] = &k;
        }
    }
    const Keyword *find(std::string_view name) const
    {
        for (size_t i = hash(name) & (Slots - 1);; i = (i + 1) & (Slots - 1)) {
            const Keyword *k = m_slots[i];
            if (!k || k->name == name)
                return k;
        }
    }

private:
    static constexpr size_t Slots = 512; // a power of two, well above the number of keywords
    static size_t hash(std::string_view s)
    {
        size_t h = 2166136261u;
        for (char c : s)
            h = (h ^ uchar(c)) * 16777619u;
        return h ^ (h >> 15);
    }
    std::array<const Keyword *, Slots> m_slots;
};

const Keyword *findKeyword(std::string_view name)
{
    static const KeywordTable table;
    return table.find(name);
}

/// The code page of a font charset (\fcharsetN); 0 means "the document's code page".
int codepageOfCharset(int charset)
{
    switch (charset) {
    case 2: return SymbolCodepage;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    case 255: return 850;
    default: return 0;
    }
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isMultiByte(int codepage)
{
    return codepage == 932 || codepage == 936 || codepage == 949 || codepage == 950 || codepage == 1361;
}

const char *codepageName(int codepage)
{
    switch (codepage) {
    case 437: return "IBM437";
    case 850: return "IBM850";
    case 874: return "windows-874";
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 949: return "windows-949";
    case 950: return "Big5";
    case 1250: return "windows-1250";
    case 1251: return "windows-1251";
    case 1253: return "windows-1253";
    case 1254: return "windows-1254";
    case 1255: return "windows-1255";
    case 1256: return "windows-1256";
    case 1257: return "windows-1257";
    case 1258: return "windows-1258";
    case 10000: return "macintosh";
    default: return nullptr;
    }
}

struct Group
{
    int32_t font = -1;   // -1: the default font
    int32_t unicodeSkip = 1;
    bool skip = false;   // inside a destination that is not body text
    bool hidden = false;
    bool deleted = false;
    bool fontTable = false;

    friend bool operator==(const Group &, const Group &) = default;
};

// The saved states of open groups, run-length encoded: nesting without a change of state (the
// usual form of hostile nesting) costs nothing. Past this many distinct entries, further
// groups share their parent's state.
constexpr qsizetype MaxDepth = 1 << 16;

struct SavedGroups
{
    Group state;
    qsizetype count;
};

// The file read in blocks, front to back: a file of any size is parsed in constant memory, and a
// file that shrinks meanwhile only ends early.
class RtfInput
{
public:
    explicit RtfInput(QIODevice &device) : m_device(device), m_block(kBlockSize + 1, Qt::Uninitialized) {}

    /// The bytes from p on, at least n of them unless the input ends first: what is left of the
    /// block [p, end) moves to its start and more is read behind it. A zero byte always follows
    /// end, so that scans for letters or digits stop there without checking the end. (Taken and
    /// given by value, so that the parser's cursor can stay in a register.)
    std::pair<const char *, const char *> ensure(const char *p, const char *end, qsizetype n)
    {
        if (end - p >= n || m_atEnd)
            return {p, end};
        const qsizetype kept = end - p;
        char *const block = m_block.data();
        std::memmove(block, p, size_t(kept));
        qsizetype filled = kept;
        while (filled < n && !m_atEnd) {
            const qint64 got = m_device.read(block + filled, kBlockSize - filled);
            if (got <= 0) {
                m_atEnd = true;
                m_failed = got < 0;
            } else {
                filled += got;
                m_consumed += got;
            }
        }
        block[filled] = '\0';
        return {block, block + filled};
    }
    bool failed() const { return m_failed; }
    qint64 consumed() const { return m_consumed; }

private:
    static constexpr qsizetype kBlockSize = 1 << 20;
    QIODevice &m_device;
    QByteArray m_block;
    qint64 m_consumed = 0;
    bool m_atEnd = false;
    bool m_failed = false;
};

class RtfParser
{
public:
    explicit RtfParser(const TextSink &sink) : m_out(sink) {}

    /// Parses the document; returns whether it ended before the end of the input.
    bool run(RtfInput &in);

private:
    bool emitting() const { return !m_state.skip && !m_state.hidden && !m_state.deleted; }
    void character(char16_t c);
    void byte(uchar b);
    void flushBytes();
    int currentCodepage();
    /// Acts on a control word; returns how many bytes of binary data follow it.
    qint64 controlWord(std::string_view name, bool hasParam, int32_t param);

    TextWriter m_out;
    Group m_state;
    std::vector<SavedGroups> m_stack;
    qsizetype m_overflow = 0;
    int m_docCodepage = 1252;
    int32_t m_defaultFont = 0;
    int32_t m_fontBeingDefined = -1;
    QHash<int32_t, int> m_fontCodepages;
    int32_t m_pendingSkip = 0; // characters still to skip after \uN
    QByteArray m_bytes;        // 8-bit text waiting to be decoded
    int m_bytesCodepage = 1252;
    std::map<int, QStringDecoder> m_decoders;
    int32_t m_cachedFont = INT32_MIN;
    int m_cachedCodepage = 1252;
};

int RtfParser::currentCodepage()
{
    const int32_t font = m_state.font < 0 ? m_defaultFont : m_state.font;
    if (font != m_cachedFont) {
        m_cachedFont = font;
        m_cachedCodepage = m_fontCodepages.value(font, 0);
    }
    return m_cachedCodepage ? m_cachedCodepage : m_docCodepage;
}

void RtfParser::character(char16_t c)
{
    if (m_pendingSkip > 0) {
        --m_pendingSkip;
        return;
    }
    if (!emitting())
        return;
    flushBytes();
    m_out.put(c);
}

void RtfParser::byte(uchar b)
{
    if (m_pendingSkip > 0) {
        --m_pendingSkip;
        return;
    }
    if (!emitting())
        return;
    const int cp = currentCodepage();
    if (!m_bytes.isEmpty() && cp != m_bytesCodepage)
        flushBytes();
    if (m_bytes.isEmpty()) {
        if (cp == 1252) {
            m_out.put(windows1252(b));
            return;
        }
        if (cp == SymbolCodepage) {
            // Symbol fonts: the private-use code point Word uses for the glyph.
            m_out.put(char16_t(b < 0x20 ? b : 0xF000 + b));
            return;
        }
        if (b < 0x80 && !isMultiByte(cp)) {
            m_out.put(char16_t(b));
            return;
        }
    }
    m_bytesCodepage = cp;
    m_bytes.append(char(b));
}

void RtfParser::flushBytes()
{
    if (m_bytes.isEmpty())
        return;
    const char *name = codepageName(m_bytesCodepage);
    auto it = m_decoders.find(m_bytesCodepage);
    if (it == m_decoders.end() && name)
        it = m_decoders.emplace(m_bytesCodepage, QStringDecoder(name)).first;
    if (it != m_decoders.end() && it->second.isValid()) {
        m_out.put(QString(it->second.decode(m_bytes)));
    } else {
        for (char b : std::as_const(m_bytes))
            m_out.put(windows1252(uchar(b)));
    }
    m_bytes.clear();
}

qint64 RtfParser::controlWord(std::string_view name, bool hasParam, int32_t param)
{
    const Keyword *k = findKeyword(name);
    if (!k) {
        // An unknown word still counts as one character of a \uN fallback.
        if (m_pendingSkip > 0)
            --m_pendingSkip;
        return 0;
    }
    switch (k->kind) {
    case Kw::Skip:
        m_state.skip = true;
        return 0;
    case Kw::FontTable:
        m_state.skip = true;
        m_state.fontTable = true;
        return 0;
    case Kw::Char:
        character(k->value);
        return 0;
    case Kw::Nothing:
        if (m_pendingSkip > 0)
            --m_pendingSkip;
        return 0;
    case Kw::Unicode: {
        const char16_t c = char16_t(param < 0 ? param + 65536 : param);
        m_pendingSkip = 0;
        if (emitting()) {
            flushBytes();
            m_out.put(c);
        }
        m_pendingSkip = m_state.unicodeSkip;
        return 0;
    }
    case Kw::UnicodeSkip:
        m_state.unicodeSkip = std::max(0, param);
        return 0;
    case Kw::Bin:
        // Binary data of the given length follows the word; it is never text.
        return hasParam && param > 0 ? param : 0;
    case Kw::AnsiCpg:
        if (hasParam && param > 0)
            m_docCodepage = param;
        return 0;
    case Kw::Ansi: m_docCodepage = 1252; return 0;
    case Kw::Mac: m_docCodepage = 10000; return 0;
    case Kw::Pc: m_docCodepage = 437; return 0;
    case Kw::Pca: m_docCodepage = 850; return 0;
    case Kw::DefaultFont:
        m_defaultFont = param;
        m_cachedFont = INT32_MIN;
        return 0;
    case Kw::Font:
        if (m_state.fontTable)
            m_fontBeingDefined = param;
        else
            m_state.font = param;
        return 0;
    case Kw::FontCharset:
        if (m_state.fontTable && m_fontBeingDefined >= 0 && !m_fontCodepages.contains(m_fontBeingDefined)) {
            m_fontCodepages.insert(m_fontBeingDefined, codepageOfCharset(param));
            m_cachedFont = INT32_MIN;
        }
        return 0;
    case Kw::FontCodepage:
        if (m_state.fontTable && m_fontBeingDefined >= 0 && param > 0) {
            m_fontCodepages.insert(m_fontBeingDefined, param);
            m_cachedFont = INT32_MIN;
        }
        return 0;
    case Kw::Hidden:
        m_state.hidden = !hasParam || param != 0;
        return 0;
    case Kw::Deleted:
        m_state.deleted = !hasParam || param != 0;
        return 0;
    case Kw::Plain:
        m_state.hidden = false;
        m_state.deleted = false;
        m_state.font = -1;
        return 0;
    }
    return 0;
}

bool RtfParser::run(RtfInput &in)
{
    const char *p = nullptr;
    const char *end = nullptr;
    const auto ensure = [&](qsizetype n) {
        std::tie(p, end) = in.ensure(p, end, n);
        return end - p >= n;
    };
    const auto more = [&] { return p < end || ensure(1); };
    // Text before the first group is not part of the document.
    while (more() && *p != '{')
        ++p;
    bool started = false;
    while (more()) {
        const char c = *p++;
        switch (c) {
        case '{':
            started = true;
            if (!m_stack.empty() && m_stack.back().state == m_state)
                ++m_stack.back().count;
            else if (qsizetype(m_stack.size()) < MaxDepth)
                m_stack.push_back({m_state, 1});
            else
                ++m_overflow;
            break;
        case '}':
            m_pendingSkip = 0;
            if (m_overflow > 0) {
                --m_overflow;
            } else if (!m_stack.empty()) {
                flushBytes();
                m_state = m_stack.back().state;
                if (--m_stack.back().count == 0)
                    m_stack.pop_back();
                m_cachedFont = INT32_MIN;
                if (m_stack.empty() && started) {
                    // The document's group is closed; anything after it is not RTF.
                    flushBytes();
                    m_out.finish();
                    return true;
                }
            }
            break;
        case '\\': {
            if (!more())
                break;
            const char d = *p;
            if ((d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z')) {
                // Names longer than any keyword are cut: they are unknown either way.
                const auto isLetter = [](char l) { return (l >= 'a' && l <= 'z') || (l >= 'A' && l <= 'Z'); };
                const char *nameStart = p;
                while (isLetter(*p)) // stops at the zero byte after the block at the latest
                    ++p;
                std::string_view name(nameStart, size_t(std::min<qsizetype>(p - nameStart, 32)));
                char carried[32];
                if (p == end) {
                    // The name may go on in the next block, which takes the place of this one.
                    std::memcpy(carried, name.data(), name.size());
                    size_t length = name.size();
                    while (more() && isLetter(*p)) {
                        if (length < sizeof carried)
                            carried[length++] = *p;
                        ++p;
                    }
                    name = std::string_view(carried, length);
                }
                bool negative = false;
                bool hasParam = false;
                qint64 value = 0;
                if (ensure(2) && *p == '-' && p[1] >= '0' && p[1] <= '9') {
                    negative = true;
                    ++p;
                }
                for (;;) {
                    while (*p >= '0' && *p <= '9') {
                        hasParam = true;
                        if (value < (qint64(1) << 40))
                            value = value * 10 + (*p - '0');
                        ++p;
                    }
                    if (p < end || !more())
                        break;
                }
                if (more() && *p == ' ')
                    ++p;
                value = std::clamp<qint64>(negative ? -value : value, INT32_MIN, INT32_MAX);
                for (qint64 skip = controlWord(name, hasParam, int32_t(value));
                     skip > 0 && more();) {
                    const qint64 n = std::min<qint64>(skip, end - p);
                    p += n;
                    skip -= n;
                }
                break;
            }
            ++p;
            switch (d) {
            case '\'': {
                int v = 0;
                int digits = 0;
                while (digits < 2 && more() && isHexDigit(*p)) {
                    const char h = *p++;
                    v = v * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
                    ++digits;
                }
                if (digits > 0)
                    byte(uchar(v));
                break;
            }
            case '\\': case '{': case '}':
                character(char16_t(d));
                break;
            case '~': character(0x00A0); break;
            case '-': character(31); break;
            case '_': character(30); break;
            case '*': m_state.skip = true; break;
            case '\r': case '\n': character(13); break;
            default: break;
            }
            break;
        }
        case '\r':
        case '\n':
            break;
        case '\t':
            character(9);
            break;
        case '\0':
            break;
        default:
            if (uchar(c) < 0x20)
                break; // stray control bytes are not text
            if (m_pendingSkip == 0 && emitting() && m_bytes.isEmpty() && uchar(c) >= 0x20 && uchar(c) < 0x80) {
                // The common case: a run of plain ASCII text (a run cut by the end of a block
                // goes on in the next).
                const char *runStart = p - 1;
                while (p < end && uchar(*p) >= 0x20 && uchar(*p) < 0x80 && *p != '\\' && *p != '{' && *p != '}')
                    ++p;
                m_out.putLatin1(runStart, p - runStart);
            } else {
                byte(uchar(c));
            }
            break;
        }
    }
    flushBytes();
    m_out.finish();
    return false;
}

} // namespace

QString RtfReader::name() const
{
    return QStringLiteral("rtf");
}

bool RtfReader::recognises(QByteArrayView head) const
{
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    while (!head.isEmpty() && (head.front() == ' ' || head.front() == '\r' || head.front() == '\n' || head.front() == '\t'))
        head = head.sliced(1);
    return head.startsWith("{\\rtf");
}

ReadOutcome RtfReader::read(QFile &file, const TextSink &sink) const
{
    const qint64 expected = file.size() - file.pos();
    RtfInput input(file);
    RtfParser parser(sink);
    const bool closed = parser.run(input);
    if (input.failed())
        return ReadOutcome::fail(ReadError::ReadFailed, file.errorString());
    // The input ended short of the size the file had at the start: it was cut meanwhile.
    if (!closed && input.consumed() < expected)
        return ReadOutcome::fail(ReadError::ReadFailed, tr("it changed while it was read"));
    return ReadOutcome::success();
}

} // namespace corvalen
