#include "packagebuilder.h"

#include <QFile>

#include <zip.h>
#include <zlib.h>

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

namespace {

void put16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

} // namespace

QByteArray zipArchive(const std::vector<RawZipEntry> &entries)
{
    QByteArray out, directory;
    for (const RawZipEntry &e : entries) {
        const quint32 offset = quint32(out.size());
        out += "PK\x03\x04";
        put16(out, 20);
        put16(out, e.flags);
        put16(out, e.method);
        put32(out, 0x00210000); // 1980-01-01
        put32(out, e.crc);
        put32(out, quint32(e.payload.size()));
        put32(out, e.size);
        put16(out, quint32(e.name.size()));
        put16(out, 0);
        out += e.name + e.payload;

        directory += "PK\x01\x02";
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, e.flags);
        put16(directory, e.method);
        put32(directory, 0x00210000);
        put32(directory, e.crc);
        put32(directory, quint32(e.payload.size()));
        put32(directory, e.size);
        put16(directory, quint32(e.name.size()));
        put32(directory, 0); // extra field and comment lengths
        put32(directory, 0); // disk number and internal attributes
        put32(directory, 0); // external attributes
        put32(directory, offset);
        directory += e.name;
    }
    const quint32 directoryOffset = quint32(out.size());
    out += directory;
    out += "PK\x05\x06";
    put32(out, 0);
    put16(out, quint32(entries.size()));
    put16(out, quint32(entries.size()));
    put32(out, quint32(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

RawZipEntry rawZipEntry(const QByteArray &name, const QByteArray &data, bool store)
{
    const quint32 crc = quint32(crc32_z(0, reinterpret_cast<const Bytef *>(data.constData()), size_t(data.size())));
    return {name, store ? data : deflateRaw(data), quint16(store ? 0 : 8), crc, quint32(data.size())};
}

QByteArray deflateRaw(const QByteArray &data, qsizetype flushAt, qsizetype *blockStart)
{
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))) + 64, Qt::Uninitialized);
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const auto feed = [&](qsizetype from, qsizetype to, int flush) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData() + from));
        z.avail_in = uInt(to - from);
        return deflate(&z, flush);
    };
    if (flushAt >= 0) {
        feed(0, flushAt, Z_FULL_FLUSH);
        if (blockStart)
            *blockStart = qsizetype(z.total_out);
    }
    const int last = feed(std::max<qsizetype>(flushAt, 0), data.size(), Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return last == Z_STREAM_END ? out : QByteArray();
}

RawZipEntry repeatedZipEntry(const QByteArray &name, const QByteArray &head, const QByteArray &unit, qint64 times,
                             const QByteArray &tail)
{
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    RawZipEntry e{name, QByteArray(), 8, 0, 0};
    qint64 size = 0;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    const auto feed = [&](const QByteArray &data, int flush) {
        e.crc = quint32(crc32_z(e.crc, reinterpret_cast<const Bytef *>(data.constData()), size_t(data.size())));
        size += data.size();
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
        z.avail_in = uInt(data.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer.data());
            z.avail_out = uInt(buffer.size());
            deflate(&z, flush);
            e.payload.append(buffer.constData(), buffer.size() - qsizetype(z.avail_out));
        } while (z.avail_out == 0);
    };
    feed(head, Z_NO_FLUSH);
    const qint64 perPiece = std::max<qint64>(1, (1 << 20) / std::max<qsizetype>(1, unit.size()));
    const QByteArray piece = unit.repeated(qsizetype(std::min(perPiece, times)));
    qint64 left = times;
    for (; left >= perPiece; left -= perPiece)
        feed(piece, Z_NO_FLUSH);
    feed(unit.repeated(qsizetype(left)), Z_NO_FLUSH);
    feed(tail, Z_FINISH);
    deflateEnd(&z);
    e.size = quint32(size);
    return e;
}

QByteArray mainPartRelationships(const QByteArray &target)
{
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
           "Target=\"" + target + "\"/></Relationships>";
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
