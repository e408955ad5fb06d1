#pragma once

#include "documents/formatreader.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvalen {

/// A small, fast pull scanner for the XML of document packages.
///
/// Gives start tags, end tags and character data; resolves element and attribute namespaces
/// against a caller's list of namespace names. Comments and processing instructions are
/// skipped; a DOCTYPE with its internal subset is skipped unread, so no entity is ever
/// declared or expanded (only the five predefined ones and character references are decoded).
/// End tags must match their start tags; nesting, names and tags are capped. A violation ends
/// the scan with an error instead of guessing.
///
/// The XML may be in memory as a whole, or arrive block by block from a source, so that a part
/// of any size is read in bounded memory. Either way a byte order mark or an encoding
/// declaration other than UTF-8 is honoured: such XML is converted to UTF-8 as it is read.
class XmlScanner
{
public:
    enum class Token { StartElement, EndElement, Text, End, Error };
    static constexpr int kNoNamespace = -1;     ///< no prefix and no default namespace
    static constexpr int kOtherNamespace = -2;  ///< a namespace not in the caller's list
    static constexpr int kMaxDepth = 4096;
    static constexpr qsizetype kMaxNameSize = 4096;    ///< the names of all open elements are kept
    static constexpr qsizetype kMaxTagSize = 16 << 20; ///< a tag's attributes are held at once
    static constexpr int kMaxBindings = 1 << 20;       ///< namespace declarations in scope
    /// Writable bytes that every block of a source must have in front of it: the scanner moves
    /// the unfinished end of one block there instead of copying the next one.
    static constexpr qsizetype kCarryRoom = 64 << 10;

    /// Gives the XML's next block, or an empty one after the last. A block must stay unchanged
    /// until two more have been asked for.
    using Source = std::function<std::span<char>()>;

    /// data must outlive the scanner; namespaces are compared exactly.
    XmlScanner(std::string_view data, std::span<const std::string_view> namespaces);
    XmlScanner(Source source, std::span<const std::string_view> namespaces);
    ~XmlScanner();
    XmlScanner(const XmlScanner &) = delete;
    XmlScanner &operator=(const XmlScanner &) = delete;

    /// The next token. Character data may come as several Text tokens in a row: a long run is
    /// given in pieces of whole characters and whole references.
    Token next()
    {
        if (m_pendingEnd) {
            m_pendingEnd = false;
            popElement();
            return Token::EndElement;
        }
        return scan();
    }

    /// The element of the current StartElement or EndElement token.
    int ns() const { return m_elementNs; }
    std::string_view localName() const { return m_localName; }
    /// Nesting depth of the current element (the root is 1).
    int depth() const { return int(m_stack.size()); }
    /// The raw value of an attribute of the current start tag (entities not decoded), or an empty
    /// view with found set to false.
    std::string_view attribute(int ns, std::string_view localName, bool *found = nullptr) const;

    /// The namespace a prefix stands for at the current element.
    int namespaceOf(std::string_view prefix) const { return resolve(prefix, false); }

    /// The current Text token as raw bytes; isCData() when it came from a CDATA section.
    std::string_view text() const { return m_text; }
    bool isCData() const { return m_cdata; }

    /// How many bytes of (UTF-8) XML the scan has gone past: what a budget in proportion to the
    /// input can be measured against.
    qint64 offset() const { return m_origin + (m_pos - m_base); }

    QString errorString() const { return m_error; }
    /// Why the scan ended in Error: damaged XML, or an encoding that cannot be read.
    ReadOutcome failure() const;

    /// Appends raw character data decoded from UTF-8, with the predefined entities and character
    /// references resolved (not for CDATA). Invalid UTF-8 becomes U+FFFD; an unknown entity
    /// reference is kept as written.
    static void appendDecoded(std::string_view raw, bool cdata, std::u16string &out);

private:
    struct Attribute
    {
        std::string_view prefix, local, value;
    };
    struct Binding
    {
        QByteArray prefix;
        int ns;
        int depth;
        int hidden; // the binding of the same prefix this one hides, or -1
    };
    // The qualified name is kept for the end tag to match: in the element itself when it is
    // short (nearly always), else in m_names.
    static constexpr size_t kShortName = 20;
    struct OpenElement
    {
        size_t nameAt;
        uint32_t nameSize;
        uint32_t localAt; // where the local part starts in the name
        int ns;
        char shortName[kShortName];

        std::string_view name(const std::string &names) const
        {
            return {nameSize <= kShortName ? shortName : names.data() + nameAt, nameSize};
        }
    };
    // Markup that is still being read when a block ends; it goes on in the next one. After an
    // error the scan stays failed.
    enum class Unfinished { None, Tag, Comment, Instruction, CData, Doctype, Failed };
    class Transcoder;

    // What the scan functions return when the data ends before the token does.
    static constexpr Token kNeedMore = Token(-1);

    Token fail(const char *what);
    void failEncoding(const QByteArray &name, bool mismatch);
    Token scan();
    Token startTag();
    Token endTag();
    Token cdata();
    bool skipPast(std::string_view terminator);
    bool skipDoctype();
    const char *closeQuote(const char *p);
    bool findTagEnd();
    bool fetch();
    void start(std::span<char> first);
    void bind(size_t from);
    void unbind(int depth);
    void popElement()
    {
        if (m_stack.back().nameSize > kShortName)
            m_names.resize(m_stack.back().nameAt);
        m_stack.pop_back();
        if (!m_bindings.empty() && m_bindings.back().depth > int(m_stack.size()))
            unbind(int(m_stack.size()));
    }
    int resolve(std::string_view prefix, bool isAttribute) const
    {
        if (prefix.empty() && isAttribute)
            return kNoNamespace;
        if (int(prefix.size()) != m_lastSize)
            return lookUp(prefix);
        for (size_t i = 0; i < prefix.size(); ++i) // a few bytes: a loop beats a call
            if (prefix[i] != m_lastPrefix[i])
                return lookUp(prefix);
        return m_lastNs;
    }
    int lookUp(std::string_view prefix) const;

    // What may be read: [m_pos, m_end). m_base is where m_origin, an offset in the XML, lies.
    const char *m_base = nullptr, *m_pos = nullptr, *m_end = nullptr;
    qint64 m_origin = 0;
    bool m_final = true;
    Source m_source;
    std::unique_ptr<Transcoder> m_transcoder;
    std::vector<char> m_carry; // holds a long token that outgrew kCarryRoom, with what follows it
    Unfinished m_unfinished = Unfinished::None;
    size_t m_tagScanned = 0;   // how far a long tag has been searched for its end
    char m_quote = 0;          // the quote a long tag or the DOCTYPE is inside of
    int m_doctypeSubset = 0;

    std::span<const std::string_view> m_namespaces;
    std::vector<OpenElement> m_stack;
    std::string m_names; // long names of open elements
    std::vector<Binding> m_bindings;
    QHash<QByteArray, int> m_inScope; // prefix -> its innermost binding
    // The last prefix looked up: nearly every name of a document has the same prefix.
    mutable char m_lastPrefix[16] = {};
    mutable int m_lastSize = -1; // none
    mutable int m_lastNs = 0;
    std::vector<Attribute> m_attributes;
    int m_elementNs = kNoNamespace;
    std::string_view m_localName;
    std::string_view m_text;
    bool m_cdata = false;
    bool m_pendingEnd = false; // a self-closing tag still owes its end
    QString m_error;
    ReadOutcome m_failure; // set when the encoding is what failed
};

/// Turns a reader of bytes into blocks for XmlScanner: two buffers used in turn, each with the
/// room the scanner needs in front.
class XmlBlockReader
{
public:
    /// Up to room bytes into out; 0 at the end, -1 on failure (which also ends the blocks).
    using Read = std::function<qint64(char *out, qint64 room)>;

    /// Blocks start at blockSize bytes and grow to maxBlockSize.
    XmlBlockReader(Read read, qsizetype blockSize, qsizetype maxBlockSize = 0);
    std::span<char> next();
    /// Reads into block until it holds size bytes or the bytes end (end is set then).
    static qsizetype fill(const Read &read, char *block, qsizetype size, bool *end);

private:
    struct Buffer
    {
        std::unique_ptr<char[]> data;
        qsizetype size = 0;
    };
    Read m_read;
    qsizetype m_blockSize, m_maxBlockSize;
    Buffer m_buffers[2];
    int m_turn = 0;
    bool m_done = false;
};

} // namespace corvalen
