#include "documents/zippackage.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace corvalen {

namespace {

QString tr(const char *s)
{
    return QCoreApplication::translate("Documents", s);
}

ReadOutcome bombOutcome(const QByteArray &name)
{
    return ReadOutcome::damaged(
            tr("its part %1 inflates to far more data than a document holds").arg(QString::fromUtf8(name)));
}

ReadOutcome unpackOutcome(const QByteArray &name, int zipError)
{
    return ReadOutcome::damaged(zipError == ZIP_ER_CRC
                                        ? tr("its part %1 fails its checksum").arg(QString::fromUtf8(name))
                                        : tr("its part %1 cannot be unpacked").arg(QString::fromUtf8(name)));
}

} // namespace

ZipPackage::~ZipPackage()
{
    if (m_zip)
        zip_discard(m_zip);
}

ReadOutcome ZipPackage::open(QFile &file)
{
    // libzip reads the file itself, on demand: no copy of a package full of pictures in memory,
    // and no mapping that would crash us if another program truncated the file meanwhile.
    const int fd = file.handle() >= 0 ? ::dup(file.handle()) : -1;
    FILE *stream = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!stream) {
        if (fd >= 0)
            ::close(fd);
        return ReadOutcome::fail(ReadError::OpenFailed, QString::fromLocal8Bit(std::strerror(errno)));
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_filep_create(stream, 0, -1, &error);
    if (!source) {
        std::fclose(stream);
        zip_error_fini(&error);
        return ReadOutcome::fail(ReadError::OpenFailed, tr("it cannot be read"));
    }
    m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    const int code = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (!m_zip) {
        zip_source_free(source);
        if (code == ZIP_ER_MEMORY)
            throw std::bad_alloc();
        if (code == ZIP_ER_READ || code == ZIP_ER_SEEK)
            return ReadOutcome::fail(ReadError::OpenFailed, tr("it cannot be read"));
        return ReadOutcome::damaged(tr("it is not a complete zip archive"));
    }
    return ReadOutcome::success();
}

bool ZipPackage::contains(const char *name) const
{
    return m_zip && zip_name_locate(m_zip, name, 0) >= 0;
}

qint64 ZipPackage::entrySize(const QByteArray &name) const
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (!m_zip || zip_stat(m_zip, name.constData(), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
        return -1;
    return qint64(st.size);
}

ReadOutcome ZipPackage::openEntry(const QByteArray &name, zip_file **file, qint64 *claimedOut,
                                  qint64 *limitOut) const
{
    *file = nullptr;
    const zip_int64_t index = m_zip ? zip_name_locate(m_zip, name.constData(), 0) : -1;
    if (index < 0)
        return ReadOutcome::damaged(tr("its part %1 is missing").arg(QString::fromUtf8(name)));
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, zip_uint64_t(index), 0, &st) != 0)
        return ReadOutcome::damaged(tr("its part %1 cannot be read").arg(QString::fromUtf8(name)));
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return ReadOutcome::fail(ReadError::Password);

    const qint64 compressed = (st.valid & ZIP_STAT_COMP_SIZE) ? qint64(st.comp_size) : 0;
    const qint64 limit = std::min(kMaxEntrySize, std::max<qint64>(1 << 20, compressed * kMaxRatio));
    const qint64 claimed = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
    if (claimed > limit)
        return bombOutcome(name);
    *file = zip_fopen_index(m_zip, zip_uint64_t(index), 0);
    if (!*file) {
        if (zip_error_code_zip(zip_get_error(m_zip)) == ZIP_ER_NOPASSWD)
            return ReadOutcome::fail(ReadError::Password);
        return ReadOutcome::damaged(tr("its part %1 cannot be read").arg(QString::fromUtf8(name)));
    }
    *claimedOut = claimed;
    *limitOut = limit;
    return ReadOutcome::success();
}

ReadOutcome ZipPackage::read(const QByteArray &name, QByteArray &out) const
{
    out.clear();
    zip_file_t *zf = nullptr;
    qint64 claimed = 0, limit = 0;
    if (ReadOutcome o = openEntry(name, &zf, &claimed, &limit); !o.ok())
        return o;
    const auto bomb = [&] {
        out.clear();
        return bombOutcome(name);
    };
    // The header's size is only a hint: the limit holds for what actually comes out.
    out.resize(std::min<qint64>(claimed + 1, limit + 1));
    qint64 done = 0;
    for (;;) {
        if (done == out.size()) {
            if (done > limit) {
                zip_fclose(zf);
                return bomb();
            }
            out.resize(std::min<qint64>(std::max<qint64>(done * 2, 1 << 16), limit + 1));
        }
        const zip_int64_t n = zip_fread(zf, out.data() + done, zip_uint64_t(out.size() - done));
        if (n < 0) {
            const int code = zip_error_code_zip(zip_file_get_error(zf));
            zip_fclose(zf);
            out.clear();
            if (code == ZIP_ER_MEMORY)
                throw std::bad_alloc();
            return unpackOutcome(name, code);
        }
        if (n == 0)
            break;
        done += n;
    }
    zip_fclose(zf);
    if (done > limit)
        return bomb();
    out.resize(done);
    return ReadOutcome::success();
}

ZipEntryStream::~ZipEntryStream()
{
    m_cancel = true;
    if (m_worker.joinable())
        m_worker.join();
}

ReadOutcome ZipEntryStream::start(const ZipPackage &zip, const QByteArray &name)
{
    zip_file_t *zf = nullptr;
    qint64 claimed = 0, limit = 0;
    if (ReadOutcome o = zip.openEntry(name, &zf, &claimed, &limit); !o.ok())
        return o;
    // The header's size, already checked against the limits, is all the room there is: a part
    // that turns out larger is damaged (or a bomb), never a reason to grow.
    m_capacity = size_t(claimed);
    m_buffer.reset(new char[m_capacity + 1]);
    m_worker = std::thread(&ZipEntryStream::work, this, zf, name);
    return ReadOutcome::success();
}

void ZipEntryStream::work(zip_file *zf, QByteArray name)
{
    constexpr size_t kChunk = 1 << 20;
    size_t done = 0;
    ReadOutcome outcome;
    for (;;) {
        if (m_cancel)
            break;
        // One byte of room beyond the header's size tells a part that lies about it.
        const size_t room = std::min(kChunk, m_capacity + 1 - done);
        const zip_int64_t n = zip_fread(zf, m_buffer.get() + done, room);
        if (n < 0) {
            outcome = unpackOutcome(name, zip_error_code_zip(zip_file_get_error(zf)));
            break;
        }
        if (n == 0)
            break;
        const size_t before = done;
        done += size_t(n);
        if (done > m_capacity) {
            outcome = bombOutcome(name);
            break;
        }
        // Publish up to the last '<': everything before it is whole tags and whole text.
        const void *lt = memrchr(m_buffer.get() + before, '<', done - before);
        if (lt) {
            std::lock_guard lock(m_mutex);
            m_available = size_t(static_cast<const char *>(lt) - m_buffer.get());
            m_changed.notify_all();
        }
    }
    zip_fclose(zf);
    std::lock_guard lock(m_mutex);
    m_outcome = outcome;
    m_available = outcome.ok() ? done : std::min(done, m_capacity);
    m_done = true;
    m_changed.notify_all();
}

size_t ZipEntryStream::waitForMore(size_t have, bool *final)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_done || m_available > have; });
    *final = m_done;
    return m_available;
}

ReadOutcome ZipEntryStream::outcome()
{
    if (m_worker.joinable())
        m_worker.join();
    return m_outcome;
}

QByteArray resolvePartName(const QByteArray &baseFolder, const QByteArray &target)
{
    QByteArray path = target;
    const qsizetype cut = path.indexOf('#');
    if (cut >= 0)
        path.truncate(cut);
    path.replace('\\', '/');
    if (!path.startsWith('/'))
        path = baseFolder + '/' + path;
    QList<QByteArray> parts;
    for (const QByteArray &piece : path.split('/')) {
        if (piece.isEmpty() || piece == ".")
            continue;
        if (piece == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(piece);
    }
    // Relationship targets are URIs: spaces and the like come percent-encoded.
    return QByteArray::fromPercentEncoding(parts.join('/'));
}

} // namespace corvalen
