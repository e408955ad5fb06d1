#include "documents/docxreader.h"

#include "documents/odtreader.h"
#include "documents/xmlscanner.h"
#include "documents/zippackage.h"

#include <QCoreApplication>
#include <QFile>

#include <array>
#include <functional>

namespace corvalen {

namespace {

using Token = XmlScanner::Token;

// Namespace indices for the scanner; the strict variants are folded onto the transitional ones.
enum Ns { W, WStrict, Mc, M, MStrict, Rel, FirstUnderstoodExtension };
constexpr std::array<std::string_view, 13> kNamespaces = {
    "http://schemas.openxmlformats.org/wordprocessingml/2006/main",
    "http://purl.oclc.org/ooxml/wordprocessingml/main",
    "http://schemas.openxmlformats.org/markup-compatibility/2006",
    "http://schemas.openxmlformats.org/officeDocument/2006/math",
    "http://purl.oclc.org/ooxml/officeDocument/math",
    "http://schemas.openxmlformats.org/package/2006/relationships",
    // Extensions whose markup holds no main-body text beyond what the base vocabulary gives
    // (shapes and text boxes are left out anyway), so a choice that requires them is safe.
    "http://schemas.microsoft.com/office/word/2010/wordml",
    "http://schemas.microsoft.com/office/word/2012/wordml",
    "http://schemas.microsoft.com/office/word/2010/wordprocessingShape",
    "http://schemas.microsoft.com/office/word/2010/wordprocessingGroup",
    "http://schemas.microsoft.com/office/word/2010/wordprocessingCanvas",
    "http://schemas.microsoft.com/office/word/2010/wordprocessingDrawing",
    "http://schemas.microsoft.com/office/drawing/2010/main",
};

constexpr qsizetype kFlushSize = 1 << 16;
constexpr qint64 kStreamedPartSize = 4 << 20; // below this a second thread does not pay

QString tr(const char *s)
{
    return QCoreApplication::translate("Documents", s);
}

bool isOn(std::string_view val, bool found)
{
    return !found || !(val == "0" || val == "false" || val == "off");
}

int hexValue(std::string_view s)
{
    int v = 0;
    if (s.empty() || s.size() > 4)
        return -1;
    for (char c : s) {
        v <<= 4;
        if (c >= '0' && c <= '9')
            v |= c - '0';
        else if (c >= 'a' && c <= 'f')
            v |= c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v |= c - 'A' + 10;
        else
            return -1;
    }
    return v;
}

// Elements whose whole content is not main-body text as it reads with changes accepted.
bool skippedInBody(std::string_view n)
{
    static constexpr std::string_view names[] = {
        "txbxContent", "del", "moveFrom", "delText", "instrText", "delInstrText", "sdtPr",
        "sdtEndPr", "sectPr", "rPrChange", "pPrChange", "tblPr", "tblGrid", "trPr", "tcPr",
        "tblPrEx", "drawing", "pict", "object", "rt", "numPr", "tabs", "tblPrChange",
        "tcPrChange", "trPrChange", "sectPrChange", "altChunk",
    };
    for (std::string_view s : names)
        if (s == n)
            return true;
    return false;
}

struct BodyWalker
{
    XmlScanner &scanner;
    const TextSink &sink;
    std::u16string out;
    int skipDepth = 0;      // inside a left-out subtree that started at this depth
    int pPrDepth = 0;       // inside paragraph properties (they may hide or delete the mark)
    bool markSuppressed = false;
    int runDepth = 0;
    bool runHidden = false;
    int rPrDepth = 0;
    bool inText = false;
    // Complex fields open at this point: those opened in this paragraph, and a count of older ones,
    // which are all showing their result by now.
    std::vector<bool> fieldInResult;
    qint64 olderFields = 0;
    int fieldsInCode = 0;
    std::vector<std::pair<int, bool>> alternates; // depth of mc:AlternateContent, branch taken

    BodyWalker(XmlScanner &x, const TextSink &s) : scanner(x), sink(s) { out.reserve(kFlushSize + 1024); }

    void flush()
    {
        if (!out.empty()) {
            sink(QStringView(out.data(), qsizetype(out.size())));
            out.clear();
        }
    }

    bool visible() const { return runDepth > 0 && !runHidden && fieldsInCode == 0; }
    void put(char16_t c)
    {
        if (!visible())
            return;
        out.push_back(c);
        if (out.size() >= size_t(kFlushSize))
            flush();
    }

    void startW(std::string_view n, int depth)
    {
        if (pPrDepth) {
            // Paragraph-mark properties: a deleted or hidden mark joins this paragraph to the next.
            if (n == "del" || n == "moveFrom") {
                markSuppressed = true;
            } else if (n == "vanish") {
                bool found;
                const auto val = scanner.attribute(W, "val", &found);
                if (isOn(val, found))
                    markSuppressed = true;
            } else if (n == "rPrChange" || n == "pPrChange" || n == "sectPr" || n == "numPr" || n == "tabs") {
                skipDepth = depth;
            }
            return;
        }
        if (rPrDepth) {
            if (n == "vanish") {
                bool found;
                const auto val = scanner.attribute(W, "val", &found);
                runHidden = isOn(val, found);
            } else if (n == "rPrChange") {
                skipDepth = depth;
            }
            return;
        }
        switch (n.size()) {
        case 1:
            if (n == "t") {
                inText = visible();
                return;
            }
            if (n == "r") {
                runDepth = depth;
                runHidden = false;
                return;
            }
            if (n == "p") {
                markSuppressed = false;
                return;
            }
            break;
        case 3:
            if (n == "rPr") {
                if (runDepth)
                    rPrDepth = depth;
                else
                    skipDepth = depth; // properties of a table row or similar
                return;
            }
            if (n == "pPr") {
                pPrDepth = depth;
                return;
            }
            if (n == "tab") {
                put(9);
                return;
            }
            if (n == "sym") {
                const int c = hexValue(scanner.attribute(W, "char"));
                if (c > 0 && (c < 0xD800 || c > 0xDFFF))
                    put(char16_t(c));
                return;
            }
            break;
        default:
            break;
        }
        if (n == "br") {
            const auto type = scanner.attribute(W, "type");
            put(type == "page" ? 12 : type == "column" ? 14 : 11);
        } else if (n == "cr") {
            put(11);
        } else if (n == "ptab") {
            put(9);
        } else if (n == "noBreakHyphen") {
            put(30);
        } else if (n == "softHyphen") {
            put(31);
        } else if (n == "fldChar") {
            const auto type = scanner.attribute(W, "fldCharType");
            if (type == "begin") {
                fieldInResult.push_back(false);
                ++fieldsInCode;
            } else if (type == "separate") {
                if (!fieldInResult.empty() && !fieldInResult.back()) {
                    fieldInResult.back() = true;
                    --fieldsInCode;
                }
            } else if (type == "end") {
                if (!fieldInResult.empty()) {
                    if (!fieldInResult.back())
                        --fieldsInCode;
                    fieldInResult.pop_back();
                } else if (olderFields > 0) {
                    --olderFields;
                }
            }
        } else if (skippedInBody(n)) {
            skipDepth = depth;
        }
    }

    void endW(std::string_view n, int depth)
    {
        // depth is the parent's depth: the element itself was at depth + 1.
        if (pPrDepth == depth + 1) {
            pPrDepth = 0;
            return;
        }
        if (rPrDepth == depth + 1) {
            rPrDepth = 0;
            return;
        }
        if (runDepth == depth + 1) {
            runDepth = 0;
            runHidden = false;
            return;
        }
        if (n == "t") {
            inText = false;
        } else if (n == "p" && !pPrDepth && !rPrDepth) {
            // A field whose code never reaches its separator (its end lost in a deletion, say)
            // must not hide the rest of the document: field codes stay within a paragraph.
            olderFields += qint64(fieldInResult.size());
            fieldInResult.clear();
            fieldsInCode = 0;
            if (!markSuppressed)
                out.push_back(13);
            markSuppressed = false;
            if (out.size() >= size_t(kFlushSize))
                flush();
        }
    }

    bool understood(std::string_view needs) const
    {
        while (!needs.empty()) {
            const auto space = needs.find(' ');
            const std::string_view prefix = needs.substr(0, space);
            needs = space == needs.npos ? std::string_view() : needs.substr(space + 1);
            if (prefix.empty())
                continue;
            const int ns = scanner.namespaceOf(prefix);
            if (ns != W && ns != WStrict && ns != M && ns != MStrict && ns < FirstUnderstoodExtension)
                return false;
        }
        return true;
    }

    ReadOutcome run()
    {
        bool rootSeen = false;
        bool inBody = false;
        for (;;) {
            const Token t = scanner.next();
            switch (t) {
            case Token::End:
                if (!rootSeen)
                    return ReadOutcome::damaged(tr("its main document part is empty"));
                flush();
                return ReadOutcome::success();
            case Token::Error:
                return scanner.failure();
            case Token::Text:
                if (inText && !skipDepth) {
                    XmlScanner::appendDecoded(scanner.text(), scanner.isCData(), out);
                    if (out.size() >= size_t(kFlushSize))
                        flush();
                }
                break;
            case Token::StartElement: {
                if (skipDepth)
                    break;
                const int depth = scanner.depth();
                int ns = scanner.ns();
                if (ns == WStrict)
                    ns = W;
                else if (ns == MStrict)
                    ns = M;
                const std::string_view n = scanner.localName();
                if (!rootSeen) {
                    rootSeen = true;
                    if (ns != W || n != "document")
                        return ReadOutcome::fail(ReadError::Unsupported);
                    break;
                }
                if (!inBody) {
                    if (ns == W && n == "body")
                        inBody = true;
                    else if (depth == 2)
                        skipDepth = depth; // background and the like
                    break;
                }
                if (ns == W) {
                    startW(n, depth);
                } else if (ns == Mc) {
                    if (n == "AlternateContent") {
                        alternates.emplace_back(depth, false);
                    } else if ((n == "Choice" || n == "Fallback") && !alternates.empty()
                               && alternates.back().first == depth - 1) {
                        // One branch only: they are alternative renderings of the same content.
                        // A choice that needs vocabulary we do not know gives way to the next.
                        if (alternates.back().second || (n == "Choice" && !understood(scanner.attribute(XmlScanner::kNoNamespace, "Requires"))))
                            skipDepth = depth;
                        else
                            alternates.back().second = true;
                    }
                } else if (ns == M && n == "t") {
                    inText = fieldsInCode == 0;
                }
                break;
            }
            case Token::EndElement: {
                const int depth = scanner.depth();
                if (skipDepth) {
                    if (depth < skipDepth)
                        skipDepth = 0;
                    break;
                }
                const int ns = scanner.ns();
                if (ns == W || ns == WStrict)
                    endW(scanner.localName(), depth);
                else if (ns == M || ns == MStrict)
                    inText = false;
                else if (ns == Mc && !alternates.empty() && alternates.back().first == depth + 1)
                    alternates.pop_back();
                break;
            }
            }
        }
    }
};

// Calls visit with every start tag of a package part read whole, until it returns true.
ReadOutcome visitPart(const ZipPackage &zip, const char *name, const std::function<bool(const XmlScanner &)> &visit)
{
    QByteArray xml;
    if (ReadOutcome o = zip.read(name, xml); !o.ok())
        return o;
    XmlScanner s(std::string_view(xml.constData(), size_t(xml.size())), kNamespaces);
    for (Token t; (t = s.next()) != Token::End && t != Token::Error;)
        if (t == Token::StartElement && visit(s))
            break;
    return ReadOutcome::success();
}

// The main document part named by the package relationships, else by the content types; empty
// when neither names one. Fails when they cannot be unpacked at all (a password, say), as then
// the main part cannot be either.
ReadOutcome mainPartName(const ZipPackage &zip, QByteArray &name)
{
    name.clear();
    const ReadOutcome relationships = !zip.contains("_rels/.rels") ? ReadOutcome::success()
            : visitPart(zip, "_rels/.rels", [&name](const XmlScanner &s) {
                  if (s.localName() != "Relationship"
                      || !std::string_view(s.attribute(XmlScanner::kNoNamespace, "Type")).ends_with("/officeDocument")
                      || s.attribute(XmlScanner::kNoNamespace, "TargetMode") == "External")
                      return false;
                  const auto target = s.attribute(XmlScanner::kNoNamespace, "Target");
                  std::u16string decoded;
                  XmlScanner::appendDecoded(target, false, decoded);
                  name = resolvePartName(QByteArray(), QStringView(decoded.data(), qsizetype(decoded.size())).toUtf8());
                  return true;
              });
    if (!name.isEmpty())
        return ReadOutcome::success();
    const ReadOutcome types = !zip.contains("[Content_Types].xml") ? ReadOutcome::success()
            : visitPart(zip, "[Content_Types].xml", [&name](const XmlScanner &s) {
                  if (s.localName() != "Override")
                      return false;
                  const std::string_view type = s.attribute(XmlScanner::kNoNamespace, "ContentType");
                  if (!type.ends_with(".main+xml")
                      || (type.find("wordprocessingml") == type.npos && type.find("ms-word") == type.npos))
                      return false;
                  const auto part = s.attribute(XmlScanner::kNoNamespace, "PartName");
                  name = resolvePartName(QByteArray(), QByteArray(part.data(), qsizetype(part.size())));
                  return true;
              });
    if (!name.isEmpty())
        return ReadOutcome::success();
    for (const ReadOutcome &o : {relationships, types})
        if (o.error == ReadError::Password || o.error == ReadError::Method)
            return o;
    return ReadOutcome::success();
}

} // namespace

ReadOutcome readWordprocessingBody(const QByteArray &xml, const TextSink &sink)
{
    XmlScanner scanner(std::string_view(xml.constData(), size_t(xml.size())), kNamespaces);
    return BodyWalker(scanner, sink).run();
}

ReadOutcome readWordprocessingBody(const XmlScanner::Source &source, const TextSink &sink)
{
    XmlScanner scanner(source, kNamespaces);
    return BodyWalker(scanner, sink).run();
}

bool DocxReader::recognises(QByteArrayView head) const
{
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}

ReadOutcome DocxReader::read(QFile &file, const TextSink &sink) const
{
    ZipPackage zip;
    if (ReadOutcome o = zip.open(file); !o.ok())
        return o;
    QByteArray partName;
    if (ReadOutcome o = mainPartName(zip, partName); !o.ok())
        return o;
    if (partName.isEmpty()) {
        if (zip.contains("content.xml"))
            return readOpenDocumentPackage(zip, sink);
        return ReadOutcome::fail(ReadError::Unsupported);
    }
    // The part is scanned as it is unpacked, a big one on two cores at once.
    ZipEntryStream stream;
    const auto mode = zip.entrySize(partName) >= kStreamedPartSize ? ZipEntryStream::Mode::Background
                                                                    : ZipEntryStream::Mode::Inline;
    if (ReadOutcome o = stream.start(zip, partName, mode); !o.ok())
        return o;
    const ReadOutcome scanned = readWordprocessingBody(stream.source(), sink);
    // An unpacking failure explains a scan that ran short; report it first.
    if (ReadOutcome o = stream.outcome(); !o.ok())
        return o;
    return scanned;
}

} // namespace corvalen
