#include "documents/pdfreader.h"

#include "base/filenames.h"
#include "documents/legacysupport.h"

#include <QCoreApplication>
#include <QFile>

#if __has_include(<poppler-document.h>)
#define CORVALEN_HAVE_POPPLER 1
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <algorithm>
#include <memory>
#include <mutex>
#endif

namespace corvalen {

namespace {

QString tr(const char *s) { return QCoreApplication::translate("Documents", s); }

#ifdef CORVALEN_HAVE_POPPLER
void quiet(const std::string &, void *) {}

void silencePoppler()
{
    // Poppler complains on stderr about every flaw it repairs; damaged files are our business.
    static std::once_flag once;
    std::call_once(once, [] { poppler::set_debug_error_function(quiet, nullptr); });
}

/// Writes the text of one page in reading order (the layout analysis pdftotext uses by default),
/// one paragraph per non-empty line; joining lines, one per run of lines up to an empty one (the
/// layout analysis puts one between blocks set apart) or the page's end.
void writePage(const poppler::page &page, TextWriter &out, bool joinLines)
{
    const poppler::ustring text = page.text(poppler::rectf(), poppler::page::non_raw_non_physical_layout);
    const auto *p = reinterpret_cast<const char16_t *>(text.data());
    const auto *const end = p + text.size();
    bool open = false; // joining: a paragraph has text and no end yet
    while (p < end) {
        const char16_t *lineEnd = p;
        while (lineEnd < end && *lineEnd != u'\n' && *lineEnd != u'\f' && *lineEnd != u'\r')
            ++lineEnd;
        if (!joinLines) {
            if (lineEnd > p) {
                out.put(QStringView(p, lineEnd - p));
                out.put(char16_t(13));
            }
        } else if (std::all_of(p, lineEnd, [](char16_t c) { return c == u' ' || c == u'\t'; })) {
            if (open)
                out.put(char16_t(13));
            open = false;
        } else {
            if (open)
                out.put(char16_t(32));
            out.put(QStringView(p, lineEnd - p));
            open = true;
        }
        p = lineEnd + 1;
    }
    if (open)
        out.put(char16_t(13));
}
#endif

} // namespace

QString PdfReader::name() const
{
    return QStringLiteral("pdf");
}

bool PdfReader::available()
{
#ifdef CORVALEN_HAVE_POPPLER
    return true;
#else
    return false;
#endif
}

bool PdfReader::recognises(QByteArrayView head) const
{
    // The header may follow some bytes of junk; readers of PDF look for it in the first kilobyte.
    return head.first(std::min<qsizetype>(head.size(), 1024)).indexOf("%PDF-") >= 0;
}

ReadOutcome PdfReader::read(QFile &file, const TextSink &sink) const
{
#ifdef CORVALEN_HAVE_POPPLER
    silencePoppler();
    // Poppler reads the file itself, a piece at a time as it needs it (never through a map, so a
    // file cut short meanwhile only ends early); given in memory it would need the whole file.
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(reopenName(file).toStdString()));
    if (!doc)
        return ReadOutcome::damaged(tr("its structure cannot be read"));
    if (doc->is_locked())
        return ReadOutcome::fail(ReadError::Password);
    TextWriter out(sink);
    const int pages = doc->pages();
    for (int i = 0; i < pages; ++i) {
        const std::unique_ptr<poppler::page> page(doc->create_page(i));
        if (page)
            writePage(*page, out, m_paragraphs == WordRules::Paragraphs::BlankLines);
    }
    // A PDF without a text layer (a scan) has no words; that is not an error.
    out.finish();
    return ReadOutcome::success();
#else
    Q_UNUSED(file);
    Q_UNUSED(sink);
    return ReadOutcome::fail(ReadError::Unsupported);
#endif
}

} // namespace corvalen
