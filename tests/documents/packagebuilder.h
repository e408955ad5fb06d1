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

// A .docx whose main part (named partName, reached only through the relationships) holds body,
// the content of w:body, with the w, m, mc, v, wps and w14 prefixes declared.
bool writeDocx(const QString &path, const QByteArray &body, const QByteArray &partName = "word/document.xml");
QByteArray docxDocument(const QByteArray &body);

// An .odt whose office:text holds body, with the office, text, table and draw prefixes declared.
bool writeOdt(const QString &path, const QByteArray &body);
QByteArray odtContent(const QByteArray &body, const QByteArray &root = "office:document-content");

bool writeFile(const QString &path, const QByteArray &data);
