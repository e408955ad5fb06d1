#pragma once

#include "engine/analysisrun.h"
#include "engine/wordrules.h"

#include <QString>

namespace corvalen {

class DocumentEngineStatus;
class ErrorReporter;

/// The built-in document engine: gives the main-body text of one file, read in-process by the
/// reader that recognises the file's content; the extension only matters when it names a document
/// format (.docx, .odt, .pdf, .doc, ...) and the content is mere text: that is a read failure.
///
/// Each call goes through the numbered steps of the document text reader: start the engine
/// (102), open the file (106), take the main-body range (110), read its text (114), close (118)
/// and quit (122). A failing step is reported with the reader's tag and its number, and the
/// call goes on with the next step, so a file that cannot be opened gives the reports for 106,
/// 110, 114 and 118 and no text. Every paragraph of the text, the last one too, ends with a
/// carriage return. readText() returns false after any failed step, also when part of the text
/// was handed on before reading failed.
class DocumentEngine : public TextSource
{
public:
    /// reporter receives the error reports (none when null); status decides whether the engine
    /// starts (the built-in engine always does when null).
    explicit DocumentEngine(ErrorReporter *reporter = nullptr, const DocumentEngineStatus *status = nullptr);

    void setReporter(ErrorReporter *reporter) { m_reporter = reporter; }
    /// Where the paragraphs of plain-text and PDF files end (the word rules' choice); by default
    /// at every line end.
    void setParagraphs(WordRules::Paragraphs paragraphs) { m_paragraphs = paragraphs; }
    WordRules::Paragraphs paragraphs() const { return m_paragraphs; }

    /// Streams the text of one file to sink; false when any step failed. A document whose text is
    /// too big to hold at the open step hands it on as it is read; when it then turns out damaged,
    /// the failure is reported as any other, but text has already reached sink and the caller
    /// must drop it.
    bool readText(const QString &path, const Sink &sink) override;
    /// The whole text of one file; empty after a reported failure.
    QString returnDocumentString(const QString &path);

private:
    ErrorReporter *m_reporter;
    const DocumentEngineStatus *m_status;
    WordRules::Paragraphs m_paragraphs = WordRules::Paragraphs::Lines;
};

} // namespace corvalen
