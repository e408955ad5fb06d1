#pragma once

#include "engine/wordrules.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <vector>

class QFile;

namespace corvalen {

/// Why a document's text could not be obtained.
enum class ReadError {
    None,
    NotFound,         ///< "The file ... does not exist."
    IsFolder,         ///< "... is a folder, not a document."
    PermissionDenied, ///< "... could not be opened: Permission denied." (the system's text)
    Unsupported,      ///< "... is not a document that Corvalen can read."
    Damaged,          ///< "... is damaged: <detail>."
    Password,         ///< "... is protected by a password."
    TooOld,           ///< "... was made by a word processor too old for Corvalen to read."
    OpenFailed,       ///< "... could not be opened: <detail>."
    Method,           ///< "... is packed with a method Corvalen cannot unpack."
    Encoding,         ///< "... is in an encoding Corvalen cannot read (<detail>)."
    ReadFailed,       ///< "... could not be read: <detail>." (an error or a change while reading)
    NotItsFormat,     ///< "... is <detail>." (the name promises a format the content is not in)
};

/// The outcome of reading one document.
struct ReadOutcome
{
    ReadError error = ReadError::None;
    QString detail; ///< for Damaged and OpenFailed: what is wrong, in plain words; for Encoding its name

    bool ok() const { return error == ReadError::None; }
    static ReadOutcome success() { return {}; }
    static ReadOutcome damaged(const QString &what) { return {ReadError::Damaged, what}; }
    static ReadOutcome fail(ReadError e, const QString &what = QString()) { return {e, what}; }
};

/// The sentence that tells the user what went wrong with fileName.
QString describeReadError(const ReadOutcome &outcome, const QString &fileName);

/// Receives a document's text in chunks; paragraphs (including the last) end with 13.
using TextSink = std::function<void(QStringView chunk)>;

/// One document format. Readers are stateless and may run on several threads at once.
class FormatReader
{
public:
    virtual ~FormatReader() = default;
    /// Short name for logs and tests ("docx", "rtf").
    virtual QString name() const = 0;
    /// Whether a file starting with these bytes (up to the first 8 KiB) is in this format.
    virtual bool recognises(QByteArrayView head) const = 0;
    /// Streams the main-body text of the open file to sink. Must never crash, hang or use
    /// memory far beyond the text's size, whatever the file holds.
    virtual ReadOutcome read(QFile &file, const TextSink &sink) const = 0;
    /// Whether read() hands text to the sink as it goes, so that a huge file never has to be held
    /// whole. The engine then calls read() when it wants the text and cannot take the text back
    /// if reading fails halfway; readers that check the whole file first return false.
    virtual bool streams() const { return false; }
};

/// Every reader, in the order they are asked to recognise a file; plain text comes last. The
/// readers of plain text and PDF end paragraphs as given.
const std::vector<std::unique_ptr<FormatReader>> &
formatReaders(WordRules::Paragraphs paragraphs = WordRules::Paragraphs::Lines);

/// The reader for the file at path whose content starts with head: the first that recognises the
/// content, except that a name promising a document format (.docx, .odt, .pdf, ...) is
/// never read as plain text. Null, with *refusal set, when no reader fits.
const FormatReader *readerFor(const QString &path, QByteArrayView head, ReadOutcome *refusal,
                              WordRules::Paragraphs paragraphs = WordRules::Paragraphs::Lines);

} // namespace corvalen
