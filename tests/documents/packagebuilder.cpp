#include "packagebuilder.h"

#include <QFile>

#include <zip.h>

bool writeZip(const QString &path, const std::vector<ZipEntry> &entries)
{
    int error = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return false;
    for (const ZipEntry &e : entries) {
        zip_source_t *src = zip_source_buffer(z, e.data.constData(), zip_uint64_t(e.data.size()), 0);
        const zip_int64_t index = src ? zip_file_add(z, e.name.constData(), src, ZIP_FL_OVERWRITE) : -1;
        if (index < 0) {
            zip_source_free(src);
            zip_discard(z);
            return false;
        }
        zip_set_file_compression(z, zip_uint64_t(index), e.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    return zip_close(z) == 0;
}

QByteArray docxDocument(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
           "xmlns:m=\"http://schemas.openxmlformats.org/officeDocument/2006/math\" "
           "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
           "xmlns:v=\"urn:schemas-microsoft-com:vml\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
           "xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\" "
           "xmlns:w14=\"http://schemas.microsoft.com/office/word/2010/wordml\" mc:Ignorable=\"w14\">"
           "<w:body>"
            + body + "<w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId9\"/></w:sectPr></w:body></w:document>";
}

bool writeDocx(const QString &path, const QByteArray &body, const QByteArray &partName)
{
    const QByteArray types =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Override PartName=\"/" + partName + "\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
            "</Types>";
    const QByteArray rels =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties\" Target=\"docProps/core.xml\"/>"
            "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"" + partName + "\"/>"
            "</Relationships>";
    // A decoy at the usual name proves the part is found through the relationships.
    std::vector<ZipEntry> entries{{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {partName, docxDocument(body)}};
    if (partName != "word/document.xml")
        entries.push_back({"word/document.xml", docxDocument("<w:p><w:r><w:t>decoy</w:t></w:r></w:p>")});
    return writeZip(path, entries);
}

QByteArray odtContent(const QByteArray &body, const QByteArray &root)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root
            + " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
              "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
              "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
              "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
              "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
              "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.text\">"
              "<office:automatic-styles><text:p>style junk</text:p></office:automatic-styles>"
              "<office:body><office:text>"
            + body + "</office:text></office:body></" + root + ">";
}

bool writeOdt(const QString &path, const QByteArray &body)
{
    const QByteArray manifest =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
            "<manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\"application/vnd.oasis.opendocument.text\"/>"
            "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/></manifest:manifest>";
    return writeZip(path, {{"mimetype", "application/vnd.oasis.opendocument.text", true},
                           {"content.xml", odtContent(body)},
                           {"META-INF/manifest.xml", manifest}});
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}
