#include "documents/odtreader.h"

#include "documents/xmlscanner.h"
#include "documents/zippackage.h"

#include <QCoreApplication>
#include <QFile>

#include <array>

namespace corvalen {

namespace {

using Token = XmlScanner::Token;

enum Ns { Office, Text, Table, Draw, Dr3d };
constexpr std::array<std::string_view, 5> kNamespaces = {
    "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
    "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
    "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
    "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0",
    "urn:oasis:names:tc:opendocument:xmlns:dr3d:1.0",
};

constexpr qsizetype kFlushSize = 1 << 16;
constexpr int kMaxSpaces = 1 << 16; // text:s counts come from the file

QString tr(const char *s)
{
    return QCoreApplication::translate("Documents", s);
}

// text: elements whose content is not body text: notes, list labels, tracked deletions,
// index templates, ruby annotations.
bool skippedText(std::string_view n)
{
    static constexpr std::string_view names[] = {
        "note", "number", "tracked-changes", "ruby-text", "table-of-content-source",
        "alphabetical-index-source", "illustration-index-source", "object-index-source",
        "user-index-source", "table-index-source", "bibliography-source", "sequence-decls",
        "variable-decls", "user-field-decls", "dde-connection-decls", "deletion",
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
    int skipDepth = 0;
    int paragraphs = 0;       // open text:p / text:h
    bool spacePending = true; // collapsible white space just emitted (or paragraph start)
    qint64 spaces = 0;        // text:s may not blow a small file up into gigabytes of spaces

    BodyWalker(XmlScanner &x, const TextSink &s) : scanner(x), sink(s) { out.reserve(kFlushSize + 1024); }

    void flush()
    {
        if (!out.empty()) {
            sink(QStringView(out.data(), qsizetype(out.size())));
            out.clear();
        }
    }

    // Character data of a paragraph: each run of white space becomes one space, none at the start.
    void appendText(std::string_view raw, bool cdata)
    {
        const size_t from = out.size();
        XmlScanner::appendDecoded(raw, cdata, out);
        size_t o = from;
        for (size_t i = from; i < out.size(); ++i) {
            char16_t c = out[i];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                if (spacePending)
                    continue;
                spacePending = true;
                c = ' ';
            } else {
                spacePending = false;
            }
            out[o++] = c;
        }
        out.resize(o);
        if (out.size() >= size_t(kFlushSize))
            flush();
    }

    ReadOutcome run()
    {
        bool bodySeen = false;
        int textDepth = 0; // depth of office:text
        for (;;) {
            switch (scanner.next()) {
            case Token::End:
                if (!bodySeen)
                    return ReadOutcome::fail(ReadError::Unsupported);
                flush();
                return ReadOutcome::success();
            case Token::Error:
                return scanner.failure();
            case Token::Text:
                if (paragraphs && !skipDepth)
                    appendText(scanner.text(), scanner.isCData());
                break;
            case Token::StartElement: {
                if (skipDepth)
                    break;
                const int depth = scanner.depth();
                const int ns = scanner.ns();
                const std::string_view n = scanner.localName();
                if (!textDepth) {
                    if (ns == Office && n == "text" && depth == 3) {
                        textDepth = depth;
                        bodySeen = true;
                    }
                    break;
                }
                if (ns == Draw || ns == Dr3d || (ns == Office && n == "annotation")) {
                    skipDepth = depth; // frames, text boxes, shapes, comments
                } else if (ns == Text) {
                    if (n == "p" || n == "h") {
                        if (paragraphs++ == 0)
                            spacePending = true;
                    } else if (n == "s") {
                        if (paragraphs) {
                            const auto c = scanner.attribute(Text, "c");
                            int count = c.empty() ? 1 : 0;
                            for (char d : c) {
                                if (d < '0' || d > '9')
                                    break;
                                count = std::min(kMaxSpaces, count * 10 + (d - '0'));
                            }
                            // No more spaces in all than the XML read so far has bytes.
                            const qint64 budget = std::max<qint64>(1 << 20, scanner.offset()) - spaces;
                            count = int(std::max<qint64>(0, std::min<qint64>(budget, count)));
                            spaces += count;
                            out.append(size_t(count), u' ');
                            spacePending = false;
                            if (out.size() >= size_t(kFlushSize))
                                flush();
                        }
                    } else if (n == "tab") {
                        if (paragraphs) {
                            out.push_back(9);
                            spacePending = false;
                        }
                    } else if (n == "line-break") {
                        if (paragraphs) {
                            out.push_back(11);
                            spacePending = false;
                        }
                    } else if (skippedText(n)) {
                        skipDepth = depth;
                    }
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
                if (!textDepth)
                    break;
                if (depth < textDepth) {
                    textDepth = 0;
                    break;
                }
                const std::string_view n = scanner.localName();
                if (scanner.ns() == Text && (n == "p" || n == "h") && paragraphs) {
                    if (--paragraphs == 0) {
                        out.push_back(13);
                        if (out.size() >= size_t(kFlushSize))
                            flush();
                    }
                }
                break;
            }
            }
        }
    }
};

bool startsWithXmlDocument(QByteArrayView head, QByteArrayView rootTag)
{
    const qsizetype at = head.indexOf(rootTag);
    if (at < 0 || at + rootTag.size() >= head.size())
        return false;
    const char next = head[at + rootTag.size()];
    return next == ' ' || next == '\n' || next == '\r' || next == '\t' || next == '>';
}

} // namespace

ReadOutcome readOpenDocumentBody(const QByteArray &xml, const TextSink &sink)
{
    XmlScanner scanner(std::string_view(xml.constData(), size_t(xml.size())), kNamespaces);
    return BodyWalker(scanner, sink).run();
}

ReadOutcome readOpenDocumentBody(const XmlScanner::Source &source, const TextSink &sink)
{
    XmlScanner scanner(source, kNamespaces);
    return BodyWalker(scanner, sink).run();
}

ReadOutcome readOpenDocumentPackage(const ZipPackage &zip, const TextSink &sink)
{
    QByteArray manifest;
    if (zip.read("META-INF/manifest.xml", manifest).ok() && manifest.contains("encryption-data"))
        return ReadOutcome::fail(ReadError::Password);
    QByteArray mimetype;
    if (zip.read("mimetype", mimetype, 1024).ok() && !mimetype.startsWith("application/vnd.oasis.opendocument.text"))
        return ReadOutcome::fail(ReadError::Unsupported);
    // The content is scanned as it is unpacked.
    ZipEntryStream stream;
    if (ReadOutcome o = stream.start(zip, "content.xml"); !o.ok())
        return o;
    const ReadOutcome scanned = readOpenDocumentBody(stream.source(), sink);
    // An unpacking failure explains a scan that ran short; report it first.
    if (ReadOutcome o = stream.outcome(); !o.ok())
        return o;
    return scanned;
}

bool OdtReader::recognises(QByteArrayView head) const
{
    // A conforming package starts with the uncompressed "mimetype" entry.
    return head.startsWith("PK\x03\x04") && head.size() > 38 && head.sliced(30, 8) == "mimetype"
            && head.sliced(38).startsWith("application/vnd.oasis.opendocument.text");
}

ReadOutcome OdtReader::read(QFile &file, const TextSink &sink) const
{
    ZipPackage zip;
    if (ReadOutcome o = zip.open(file); !o.ok())
        return o;
    return readOpenDocumentPackage(zip, sink);
}

bool FlatOdtReader::recognises(QByteArrayView head) const
{
    return startsWithXmlDocument(head, "<office:document");
}

ReadOutcome FlatOdtReader::read(QFile &file, const TextSink &sink) const
{
    if (file.size() > ZipPackage::kMaxEntrySize)
        return ReadOutcome::fail(ReadError::OpenFailed, tr("it is too large"));
    file.seek(0);
    // Read block by block: the text comes out as the file goes in.
    XmlBlockReader blocks([&file](char *out, qint64 room) { return file.read(out, room); }, 1 << 20);
    const ReadOutcome scanned = readOpenDocumentBody([&blocks] { return blocks.next(); }, sink);
    if (file.error() != QFileDevice::NoError)
        return ReadOutcome::fail(ReadError::OpenFailed, file.errorString());
    return scanned;
}

} // namespace corvalen
