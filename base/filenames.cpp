#include "base/filenames.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvalen {

namespace {

// The length of the valid UTF-8 sequence at p (end excluded), with its code point in c, or 0.
// Overlong forms, surrogates and code points above U+10FFFF are not valid.
qsizetype validSequence(const uchar *p, const uchar *end, char32_t &c)
{
    const uchar b = p[0];
    if (b < 0x80) {
        c = b;
        return 1;
    }
    qsizetype n = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        c = b & 0x07;
    } else {
        return 0;
    }
    if (end - p < n)
        return 0;
    for (qsizetype i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if ((n == 3 && c < 0x800) || (n == 4 && c < 0x10000) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

// Decoded here, not by QString::fromUtf8(), which drops a leading U+FEFF as a byte order mark:
// in a name or an argument it is a character like any other.
QString decodeFileName(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = p + bytes.size();
    QString name;
    name.reserve(bytes.size());
    while (p < end) {
        char32_t c = 0;
        const qsizetype n = validSequence(p, end, c);
        if (n == 0) {
            name += QChar(char16_t(0xDC00 + *p++)); // a byte kept as it was
            continue;
        }
        p += n;
        if (c < 0x10000) {
            name += QChar(char16_t(c));
        } else {
            name += QChar(QChar::highSurrogate(c));
            name += QChar(QChar::lowSurrogate(c));
        }
    }
    return name;
}

QByteArray encodeFileName(QStringView name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype from = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool kept = c >= 0xDC80 && c <= 0xDCFF
                && !(i > 0 && QChar::isHighSurrogate(name[i - 1].unicode()));
        if (!kept)
            continue;
        bytes += name.sliced(from, i - from).toUtf8();
        bytes += char(c - 0xDC00);
        from = i + 1;
    }
    bytes += name.sliced(from).toUtf8();
    return bytes;
}

FileStatus fileStatus(const QString &path)
{
    FileStatus status;
#ifdef Q_OS_UNIX
    struct stat s = {};
    if (path.isEmpty()) {
        status.error = ENOENT;
    } else if (::stat(encodeFileName(path).constData(), &s) != 0) {
        status.error = errno;
    } else {
        status.exists = true;
        status.isFolder = S_ISDIR(s.st_mode);
        status.isRegularFile = S_ISREG(s.st_mode);
        status.size = qint64(s.st_size);
    }
#else
    const QFileInfo info(path);
    status.exists = info.exists();
    status.isFolder = info.isDir();
    status.isRegularFile = info.isFile();
    status.size = info.size();
    status.error = status.exists ? 0 : 2; // ENOENT
#endif
    return status;
}

bool openForReading(QFile &file, const QString &path, int *systemError)
{
    if (systemError)
        *systemError = 0;
#ifdef Q_OS_UNIX
    const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (systemError)
            *systemError = errno;
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
#endif
}

QByteArray reopenName(const QFile &file)
{
#ifdef Q_OS_LINUX
    if (file.fileName().isEmpty() && file.handle() >= 0)
        return "/proc/self/fd/" + QByteArray::number(file.handle());
#endif
    return QFile::encodeName(file.fileName());
}

} // namespace corvalen
