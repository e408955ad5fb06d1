#include "zipentries.h"

#include <QFile>

#include <zip.h>

namespace corvalen::testing {

QByteArray unzip(const QString &archive, const char *entry)
{
    int err = 0;
    zip_t *z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &err);
    if (!z)
        return {};
    QByteArray data;
    zip_stat_t st;
    if (zip_stat(z, entry, 0, &st) == 0) {
        if (zip_file_t *f = zip_fopen(z, entry, 0)) {
            data.resize(qsizetype(st.size));
            if (zip_fread(f, data.data(), st.size) != zip_int64_t(st.size))
                data.clear();
            zip_fclose(f);
        }
    }
    zip_close(z);
    return data;
}

QList<QByteArray> sheetsOf(const QString &archive)
{
    QList<QByteArray> sheets;
    for (int n = 1;; ++n) {
        const QByteArray entry = "xl/worksheets/sheet" + QByteArray::number(n) + ".xml";
        const QByteArray xml = unzip(archive, entry.constData());
        if (xml.isEmpty())
            return sheets;
        sheets << xml;
    }
}

} // namespace corvalen::testing
