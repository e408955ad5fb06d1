#include "documents/docreader.h"
#include "documents/docxreader.h"
#include "documents/formatreader.h"
#include "documents/htmlreader.h"
#include "documents/odtreader.h"
#include "documents/pdfreader.h"
#include "documents/rtfreader.h"
#include "documents/textreader.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace corvalen {

namespace {

QString tr(const char *s)
{
    return QCoreApplication::translate("Documents", s);
}

// What a file's extension promises. A file that keeps none of these promises is still read by
// its content when that is another document format; only reading it as plain text is refused,
// since that would count the bytes of a broken document as words.
struct Promise
{
    const char *extensions[6]; // up to the first null
    const char *refusal; // completes "<file> is ..."
};

constexpr Promise kPromises[] = {
    {{"docx", "docm", "dotx", "dotm"},
     QT_TRANSLATE_NOOP("Documents", "not a valid Word document: it is not a document package")},
    // Every OpenDocument text package the mimetype check accepts: text, template, master, web.
    {{"odt", "ott", "odm", "otm", "oth"},
     QT_TRANSLATE_NOOP("Documents", "not a valid OpenDocument text: it is not a document package")},
    {{"pdf"}, QT_TRANSLATE_NOOP("Documents", "not a valid PDF document: it has no PDF header")},
    // No promise for .doc and .dot: word processors open such a file that holds only text as
    // text, and so do we. A damaged Word 97-2003 file still fails, since its signature sends it
    // to the Word reader.
};

const Promise *promiseOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    for (const Promise &promise : kPromises)
        for (const char *const *extension = promise.extensions; *extension; ++extension)
            if (suffix.compare(QLatin1StringView(*extension), Qt::CaseInsensitive) == 0)
                return &promise;
    return nullptr;
}

std::vector<std::unique_ptr<FormatReader>> makeReaders(WordRules::Paragraphs paragraphs)
{
    std::vector<std::unique_ptr<FormatReader>> readers;
    // Recognition goes by content, most specific signature first; plain text takes what is left.
    readers.push_back(std::make_unique<DocReader>());  // compound files
    readers.push_back(std::make_unique<RtfReader>());  // also .doc files that are really RTF
    readers.push_back(std::make_unique<PdfReader>(paragraphs));
    readers.push_back(std::make_unique<OdtReader>());
    readers.push_back(std::make_unique<DocxReader>()); // any other zip archive; hands ODF on
    readers.push_back(std::make_unique<FlatOdtReader>());
    readers.push_back(std::make_unique<HtmlReader>());
    readers.push_back(std::make_unique<PlainTextReader>(paragraphs));
    return readers;
}

} // namespace

const std::vector<std::unique_ptr<FormatReader>> &formatReaders(WordRules::Paragraphs paragraphs)
{
    static const std::vector<std::unique_ptr<FormatReader>> lines = makeReaders(WordRules::Paragraphs::Lines);
    static const std::vector<std::unique_ptr<FormatReader>> blankLines =
            makeReaders(WordRules::Paragraphs::BlankLines);
    return paragraphs == WordRules::Paragraphs::BlankLines ? blankLines : lines;
}

const FormatReader *readerFor(const QString &path, QByteArrayView head, ReadOutcome *refusal,
                              WordRules::Paragraphs paragraphs)
{
    const FormatReader *chosen = nullptr;
    for (const auto &reader : formatReaders(paragraphs)) {
        if (reader->recognises(head)) {
            chosen = reader.get();
            break;
        }
    }
    if (!chosen || dynamic_cast<const PlainTextReader *>(chosen)) {
        if (const Promise *promise = promiseOf(path)) {
            *refusal = ReadOutcome::fail(ReadError::NotItsFormat, tr(promise->refusal));
            return nullptr;
        }
    }
    if (!chosen)
        *refusal = ReadOutcome::fail(ReadError::Unsupported);
    return chosen;
}

} // namespace corvalen
