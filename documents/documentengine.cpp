#include "documents/documentengine.h"

#include "base/errorreport.h"
#include "base/filenames.h"
#include "base/safefile.h"
#include "documents/availability.h"
#include "documents/formatreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <exception>
#include <new>
#include <optional>

Q_LOGGING_CATEGORY(lcDocuments, "corvalen.documents", QtInfoMsg)

namespace corvalen {

namespace {

constexpr qsizetype kHeadSize = 8192;
constexpr qsizetype kChunkSize = 1 << 20;
// Text a structured document may hold back at the open step (UTF-16 units: 16 MB).
constexpr qsizetype kHeldText = qsizetype(8) << 20;

QString tr(const char *s)
{
    return QCoreApplication::translate("Documents", s);
}

// A step that cannot do its work; carries the sentence for the error report.
struct StepFailure
{
    QString description;
};

// Everything one call holds: like the reader's three object references, gone when it returns.
struct Call
{
    bool started = false;
    std::optional<QFile> file;
    const FormatReader *reader = nullptr;
    bool haveRange = false;
    QString text; // the text of a reader that checks the whole file before giving any
    // A text too big to hold goes on to the sink as it is read, before the whole file is checked.
    bool handedOn = false;
    QChar last; // the last character handed on
};

void handOn(QStringView text, const TextSource::Sink &sink)
{
    for (qsizetype at = 0; at < text.size(); at += kChunkSize)
        sink(text.sliced(at, std::min(kChunkSize, text.size() - at)));
}

ReadOutcome openDocument(const QString &path, Call &call, const TextSource::Sink &sink,
                         WordRules::Paragraphs paragraphs)
{
    // The system's own answer: a file in a folder that may not be entered is no missing file.
    const auto failure = [](int error, const QString &otherwise) {
        if (error == ENOENT || error == ENOTDIR)
            return ReadOutcome::fail(ReadError::NotFound);
        if (error == EACCES || error == EPERM)
            return ReadOutcome::fail(ReadError::PermissionDenied);
        return ReadOutcome::fail(ReadError::OpenFailed, error ? systemErrorText(error) : otherwise);
    };
    const FileStatus status = fileStatus(path);
    if (!status.exists)
        return failure(status.error, QString());
    if (status.isFolder)
        return ReadOutcome::fail(ReadError::IsFolder);
    // Pipes and devices could block or never end; documents are regular files.
    if (!status.isRegularFile)
        return ReadOutcome::fail(ReadError::Unsupported);
    call.file.emplace();
    QFile &file = *call.file;
    int error = 0;
    if (!openForReading(file, path, &error)) {
        const ReadOutcome outcome = failure(error, file.errorString());
        call.file.reset();
        return outcome;
    }
    const QByteArray head = file.read(kHeadSize);
    if (file.error() != QFileDevice::NoError || !file.seek(0)) {
        const ReadOutcome outcome = ReadOutcome::fail(ReadError::OpenFailed, file.errorString());
        call.file.reset();
        return outcome;
    }
    ReadOutcome refusal;
    call.reader = readerFor(path, head, &refusal, paragraphs);
    if (!call.reader) {
        call.file.reset();
        return refusal;
    }
    if (call.reader->streams())
        return ReadOutcome::success();
    // Readers of structured formats check the whole file here, so that a damaged or protected
    // document fails to open rather than giving half a text.
    ReadOutcome outcome = call.reader->read(file, [&call, &sink](QStringView chunk) {
        if (chunk.isEmpty())
            return;
        if (!call.handedOn && call.text.size() + chunk.size() <= kHeldText) {
            call.text.append(chunk);
            return;
        }
        if (!call.handedOn) {
            call.handedOn = true;
            handOn(call.text, sink);
            call.text = QString();
        }
        call.last = chunk.back();
        sink(chunk);
    });
    if (!outcome.ok()) {
        call.text = QString();
        call.file.reset();
        call.reader = nullptr;
    }
    return outcome;
}

} // namespace

DocumentEngine::DocumentEngine(ErrorReporter *reporter, const DocumentEngineStatus *status)
    : m_reporter(reporter), m_status(status)
{
}

bool DocumentEngine::readText(const QString &path, const Sink &sink)
{
    const QString shownName = QDir::toNativeSeparators(path);
    bool complete = true;
    const auto step = [&](int line, auto &&body) {
        QString description;
        try {
            body();
            return;
        } catch (const StepFailure &f) {
            description = f.description;
        } catch (const std::bad_alloc &) {
            description = tr("Out of memory while reading %1.").arg(shownName);
        } catch (const std::exception &e) {
            description = tr("%1 could not be read: %2.").arg(shownName, QString::fromLocal8Bit(e.what()));
        }
        complete = false;
        qCDebug(lcDocuments) << "step" << line << "failed:" << description;
        if (m_reporter)
            m_reporter->reportError(description, QString::fromUtf16(kReaderTag), line);
    };
    const auto noDocument = [] { throw StepFailure{tr("No document is open.")}; };
    const auto notStarted = [] { throw StepFailure{tr("The document engine is not running.")}; };

    Call call;
    step(102, [&] {
        if (m_status && !m_status->canStart())
            throw StepFailure{tr("The document engine could not be started.")};
        call.started = true;
    });
    step(106, [&] {
        if (!call.started)
            notStarted();
        const ReadOutcome outcome = openDocument(path, call, sink, m_paragraphs);
        if (!outcome.ok())
            throw StepFailure{describeReadError(outcome, shownName)};
    });
    step(110, [&] {
        if (!call.file)
            noDocument();
        call.haveRange = true;
    });
    step(114, [&] {
        if (!call.haveRange)
            noDocument();
        if (call.reader->streams()) {
            QChar last;
            bool any = false;
            const ReadOutcome outcome = call.reader->read(*call.file, [&](QStringView chunk) {
                if (chunk.isEmpty())
                    return;
                any = true;
                last = chunk.back();
                sink(chunk);
            });
            if (any && last != u'\r')
                sink(u"\r");
            if (!outcome.ok())
                throw StepFailure{describeReadError(outcome, shownName)};
            return;
        }
        if (call.handedOn) {
            if (call.last != u'\r')
                sink(u"\r");
            return;
        }
        if (!call.text.isEmpty() && call.text.back() != u'\r')
            call.text.append(u'\r');
        handOn(call.text, sink);
    });
    step(118, [&] {
        if (!call.file)
            noDocument();
        call.file->close();
        call.file.reset();
        call.text = QString();
    });
    step(122, [&] {
        if (!call.started)
            notStarted();
    });
    return complete;
}

QString DocumentEngine::returnDocumentString(const QString &path)
{
    QString text;
    if (!readText(path, [&text](QStringView chunk) { text.append(chunk); }))
        return QString();
    return text;
}

} // namespace corvalen
