#pragma once

#include "documents/formatreader.h"
#include "documents/xmlscanner.h"

namespace corvalen {

class ZipPackage;

/// OpenDocument text (.odt .ott), told by the package's leading mimetype entry.
class OdtReader : public FormatReader
{
public:
    QString name() const override { return QStringLiteral("odt"); }
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;
};

/// OpenDocument flat XML text (.fodt): the whole document in one XML file.
class FlatOdtReader : public FormatReader
{
public:
    QString name() const override { return QStringLiteral("fodt"); }
    bool recognises(QByteArrayView head) const override;
    ReadOutcome read(QFile &file, const TextSink &sink) const override;
};

/// Reads the body text of an opened OpenDocument package; Unsupported for packages that hold
/// no text document (spreadsheets, drawings), Password when the content is encrypted.
ReadOutcome readOpenDocumentPackage(const ZipPackage &zip, const TextSink &sink);

/// Reads the office:text body of OpenDocument content XML (content.xml or a flat document),
/// whole or as it arrives.
ReadOutcome readOpenDocumentBody(const QByteArray &xml, const TextSink &sink);
ReadOutcome readOpenDocumentBody(const XmlScanner::Source &source, const TextSink &sink);

} // namespace corvalen
