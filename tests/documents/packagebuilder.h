#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

// Builds the small zip packages the document tests read.
struct ZipEntry
{
    QByteArray name;
    QByteArray data;
    bool store = false; // uncompressed, as the OpenDocument mimetype entry must be
};

bool writeZip(const QString &path, const std::vector<ZipEntry> &entries);

// An entry written exactly as given, so that a test can make its headers lie or its data wrong.
struct RawZipEntry
{
    QByteArray name;
    QByteArray payload; // the data as stored: deflated for method 8
    quint16 method = 0;
    quint32 crc = 0;
    quint32 size = 0;   // the size the headers claim for the content
    quint16 flags = 0;  // general purpose flags: 1 marks the entry encrypted
};

QByteArray zipArchive(const std::vector<RawZipEntry> &entries);
// An entry whose headers tell the truth about data (deflated unless store).
RawZipEntry rawZipEntry(const QByteArray &name, const QByteArray &data, bool store = false);
// Raw deflate data; with flushAt >= 0 a full flush there, so that the stream's next block starts
// at a byte boundary the returned *blockStart points at.
QByteArray deflateRaw(const QByteArray &data, qsizetype flushAt = -1, qsizetype *blockStart = nullptr);
// An entry of head, then unit repeated times over, then tail: deflated piece by piece, so that a
// part of hundreds of megabytes is never held whole.
RawZipEntry repeatedZipEntry(const QByteArray &name, const QByteArray &head, const QByteArray &unit, qint64 times,
                             const QByteArray &tail);
// The relationships part that makes d.xml the main document part.
QByteArray mainPartRelationships(const QByteArray &target = "d.xml");

// A .docx whose main part (named partName, reached only through the relationships) holds body,
// the content of w:body, with the w, m, mc, v, wps and w14 prefixes declared.
bool writeDocx(const QString &path, const QByteArray &body, const QByteArray &partName = "word/document.xml");
QByteArray docxDocument(const QByteArray &body);

// An .odt whose office:text holds body, with the office, text, table and draw prefixes declared.
bool writeOdt(const QString &path, const QByteArray &body);
QByteArray odtContent(const QByteArray &body, const QByteArray &root = "office:document-content");

bool writeFile(const QString &path, const QByteArray &data);
