#pragma once

#include <QString>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvalen {

/// A small, fast pull scanner for the XML of document packages (UTF-8).
///
/// Gives start tags, end tags and character data; resolves element and attribute namespaces
/// against a caller's list of namespace names. Comments and processing instructions are
/// skipped; a DOCTYPE with its internal subset is skipped unread, so no entity is ever
/// declared or expanded (only the five predefined ones and character references are decoded).
/// End tags must match their start tags and nesting is capped; a violation ends the scan with
/// an error instead of guessing.
class XmlScanner
{
public:
    enum class Token { StartElement, EndElement, Text, End, Error, NeedMore };
    static constexpr int kNoNamespace = -1;     ///< no prefix and no default namespace
    static constexpr int kOtherNamespace = -2;  ///< a namespace not in the caller's list
    static constexpr int kMaxDepth = 4096;

    /// data must outlive the scanner; namespaces are compared exactly.
    XmlScanner(std::string_view data, std::span<const std::string_view> namespaces);

    /// For data that is still arriving: only the first `available` bytes may be read, and the
    /// scan returns NeedMore where it would have to look beyond them (no token is cut). final
    /// says that nothing more will come.
    void setAvailable(size_t available, bool final);
    /// After NeedMore: true when the scan should only go on once all data is there.
    bool wantsEverything() const { return m_wantsEverything; }

    Token next();

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

    QString errorString() const { return m_error; }

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
        std::string_view prefix;
        int ns;
        int depth;
    };

    Token fail(const char *what);
    Token startTag();
    Token endTag();
    bool skipPast(std::string_view terminator);
    bool skipDoctype();
    int resolve(std::string_view prefix, bool isAttribute) const;

    const char *m_begin, *m_pos, *m_end; // m_end: end of what may be read so far
    bool m_final = true;
    bool m_wantsEverything = false;
    static constexpr ptrdiff_t kLongToken = 1 << 20;
    std::span<const std::string_view> m_namespaces;
    struct OpenElement
    {
        std::string_view qname, localName;
        int ns;
    };
    std::vector<OpenElement> m_stack;
    std::vector<Binding> m_bindings;
    std::vector<Attribute> m_attributes;
    int m_elementNs = kNoNamespace;
    std::string_view m_localName;
    std::string_view m_text;
    bool m_cdata = false;
    bool m_pendingEnd = false; // a self-closing tag still owes its end
    QString m_error;
};

/// Makes a package part's XML UTF-8: a UTF-16 part (told by its byte order mark) is converted,
/// a UTF-8 byte order mark dropped.
void normaliseXmlEncoding(QByteArray &xml);

} // namespace corvalen
