#include "documents/docreader.h"
#include "documents/docxreader.h"
#include "documents/formatreader.h"
#include "documents/htmlreader.h"
#include "documents/odtreader.h"
#include "documents/pdfreader.h"
#include "documents/rtfreader.h"
#include "documents/textreader.h"

namespace corvalen {

namespace {

std::vector<std::unique_ptr<FormatReader>> makeReaders()
{
    std::vector<std::unique_ptr<FormatReader>> readers;
    // Recognition goes by content, most specific signature first; plain text takes what is left.
    readers.push_back(std::make_unique<DocReader>());  // compound files
    readers.push_back(std::make_unique<RtfReader>());  // also .doc files that are really RTF
    readers.push_back(std::make_unique<PdfReader>());
    readers.push_back(std::make_unique<OdtReader>());
    readers.push_back(std::make_unique<DocxReader>()); // any other zip archive; hands ODF on
    readers.push_back(std::make_unique<FlatOdtReader>());
    readers.push_back(std::make_unique<HtmlReader>());
    readers.push_back(std::make_unique<PlainTextReader>());
    return readers;
}

} // namespace

const std::vector<std::unique_ptr<FormatReader>> &formatReaders()
{
    static const std::vector<std::unique_ptr<FormatReader>> readers = makeReaders();
    return readers;
}

} // namespace corvalen
