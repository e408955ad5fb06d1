#include "support/smallfilesystem.h"

#include <QFile>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace corvalen::testing {

SmallFileSystem::SmallFileSystem(qint64 bytes)
{
#ifdef Q_OS_LINUX
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
    m_mounted = m_dir.isValid()
            && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, options.constData()) == 0;
    if (!m_mounted)
        m_error = QStringLiteral("no tmpfs could be mounted here: ") + QString::fromLocal8Bit(std::strerror(errno));
#else
    Q_UNUSED(bytes);
    m_error = QStringLiteral("mounting a small file system needs Linux");
#endif
}

SmallFileSystem::~SmallFileSystem()
{
#ifdef Q_OS_LINUX
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
#endif
}

bool SmallFileSystem::fill(qint64 keep)
{
#ifdef Q_OS_LINUX
    struct statvfs fs = {};
    if (!m_mounted || ::statvfs(QFile::encodeName(m_dir.path()).constData(), &fs) != 0)
        return false;
    qint64 left = qint64(fs.f_bavail) * qint64(fs.f_frsize) - keep;
    const int fd = ::open(QFile::encodeName(filePath(QStringLiteral("filler"))).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    static const char block[4096] = {};
    while (left > 0) {
        const ssize_t n = ::write(fd, block, size_t(std::min<qint64>(left, sizeof block)));
        if (n <= 0)
            break; // full: that is what was asked for
        left -= n;
    }
    ::close(fd);
    return true;
#else
    Q_UNUSED(keep);
    return false;
#endif
}

bool SmallFileSystem::makeReadOnly()
{
#ifdef Q_OS_LINUX
    return m_mounted
            && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                       nullptr) == 0;
#else
    return false;
#endif
}

} // namespace corvalen::testing
