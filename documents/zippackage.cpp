#include "documents/zippackage.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>

#include <zip.h>

#ifdef CORVALEN_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>


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

ReadOutcome tooLargeOutcome(const QByteArray &name)
{
    return ReadOutcome::damaged(tr("its part %1 is too large").arg(QString::fromUtf8(name)));
}

ReadOutcome unpackOutcome(const QByteArray &name, int zipError)
{
    return ReadOutcome::damaged(zipError == ZIP_ER_CRC
                                        ? tr("its part %1 fails its checksum").arg(QString::fromUtf8(name))
                                        : tr("its part %1 cannot be unpacked").arg(QString::fromUtf8(name)));
}

} // namespace

using ZipFile = std::unique_ptr<zip_file_t, decltype(&zip_fclose)>;

/// Gives an entry's content as zip_fread() would. Deflated entries are inflated here from their
/// raw data when ISA-L is there, several times faster than zlib inside libzip; what comes out
/// must match the checksum the headers give.
class ZipEntryReader
{
public:
    ZipEntryReader(ZipFile &&file, bool raw, const zip_stat_t &st) : m_file(std::move(file))
    {
#ifdef CORVALEN_HAVE_ISAL
        if (raw) {
            m_inflater.reset(new Inflater); // not value-initialised: the state is 85 KiB that init sets up
            isal_inflate_init(&m_inflater->state);
            m_inflater->state.crc_flag = ISAL_GZIP_NO_HDR; // keeps the CRC-32 of the output
            m_inflater->compressedLeft = st.comp_size;
            m_inflater->crc = st.crc;
            m_inflater->input.reset(new uint8_t[size_t(std::min<zip_uint64_t>(st.comp_size, kInputChunk)) + 1]);
        }
#else
        Q_UNUSED(raw);
        Q_UNUSED(st);
#endif
    }
    ZipEntryReader(const ZipEntryReader &) = delete;
    ZipEntryReader &operator=(const ZipEntryReader &) = delete;

    /// Whether this build inflates entries itself.
    static constexpr bool inflatesRaw()
    {
#ifdef CORVALEN_HAVE_ISAL
        return true;
#else
        return false;
#endif
    }

    /// Up to room bytes of content into out; 0 at the end, -1 on failure (see error()).
    zip_int64_t read(char *out, size_t room)
    {
#ifdef CORVALEN_HAVE_ISAL
        if (m_inflater)
            return inflate(out, room);
#endif
        const zip_int64_t n = zip_fread(m_file.get(), out, room);
        if (n < 0)
            m_error = zip_error_code_zip(zip_file_get_error(m_file.get()));
        return n;
    }
    /// The libzip error code of a failed read().
    int error() const { return m_error; }

private:
#ifdef CORVALEN_HAVE_ISAL
    static constexpr size_t kInputChunk = 1 << 18;
    struct Inflater
    {
        inflate_state state;
        std::unique_ptr<uint8_t[]> input;
        zip_uint64_t compressedLeft = 0;
        uint32_t crc = 0;
        bool finished = false;
    };

    zip_int64_t fail(int code)
    {
        m_error = code;
        return -1;
    }

    zip_int64_t inflate(char *out, size_t room)
    {
        Inflater &in = *m_inflater;
        inflate_state &st = in.state;
        if (in.finished || room == 0)
            return 0;
        room = std::min<size_t>(room, UINT32_MAX);
        st.next_out = reinterpret_cast<uint8_t *>(out);
        st.avail_out = uint32_t(room);
        while (st.avail_out > 0) {
            if (st.avail_in == 0 && in.compressedLeft > 0) {
                const zip_int64_t n = zip_fread(m_file.get(), in.input.get(),
                                                std::min<zip_uint64_t>(in.compressedLeft, kInputChunk));
                if (n < 0)
                    return fail(zip_error_code_zip(zip_file_get_error(m_file.get())));
                if (n == 0)
                    return fail(ZIP_ER_EOF);
                in.compressedLeft -= zip_uint64_t(n);
                st.next_in = in.input.get();
                st.avail_in = uint32_t(n);
            }
            const uint32_t outputBefore = st.avail_out, inputBefore = st.avail_in;
            const int32_t bitsBefore = st.read_in_length;
            const isal_block_state stateBefore = st.block_state;
            if (isal_inflate(&st) != ISAL_DECOMP_OK)
                return fail(ZIP_ER_COMPRESSED_DATA);
            if (st.block_state == ISAL_BLOCK_FINISH) {
                in.finished = true;
                break;
            }
            // A stream that stands still has run out of compressed data (it is cut short); never
            // call again with nothing changed.
            if (st.avail_out == outputBefore && st.avail_in == inputBefore && st.read_in_length == bitsBefore
                && st.block_state == stateBefore)
                return fail(ZIP_ER_COMPRESSED_DATA);
        }
        const size_t n = room - st.avail_out;
        // What a damaged entry gives must not count as its content. A size in the headers that
        // is off while the checksum holds is let pass, as libzip does; the callers' limits stand.
        if (in.finished && st.crc != in.crc)
            return fail(ZIP_ER_CRC);
        return zip_int64_t(n);
    }
#endif

    ZipFile m_file; // first in, last out: closed after the inflater is gone
#ifdef CORVALEN_HAVE_ISAL
    std::unique_ptr<Inflater> m_inflater;
#endif
    int m_error = ZIP_ER_OK;
};

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

ReadOutcome ZipPackage::openEntry(const QByteArray &name, std::unique_ptr<ZipEntryReader> *reader,
                                  qint64 *claimedOut, qint64 *limitOut) const
{
    reader->reset();
    const zip_int64_t index = m_zip ? zip_name_locate(m_zip, name.constData(), 0) : -1;
    if (index < 0)
        return ReadOutcome::damaged(tr("its part %1 is missing").arg(QString::fromUtf8(name)));
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, zip_uint64_t(index), 0, &st) != 0)
        return ReadOutcome::damaged(tr("its part %1 cannot be read").arg(QString::fromUtf8(name)));
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return ReadOutcome::fail(ReadError::Password);
    if ((st.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(st.comp_method, 0))
        return ReadOutcome::fail(ReadError::Method);

    const qint64 compressed = (st.valid & ZIP_STAT_COMP_SIZE) ? qint64(st.comp_size) : 0;
    const qint64 limit = std::min(kMaxEntrySize, std::max<qint64>(1 << 20, compressed * kMaxRatio));
    const qint64 claimed = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
    if (claimed > limit)
        return bombOutcome(name);
    // Anything but plain deflate (stored, other methods) is left to libzip.
    const bool raw = ZipEntryReader::inflatesRaw() && (st.valid & ZIP_STAT_COMP_METHOD)
            && st.comp_method == ZIP_CM_DEFLATE && (st.valid & ZIP_STAT_CRC) && (st.valid & ZIP_STAT_SIZE)
            && (st.valid & ZIP_STAT_COMP_SIZE);
    ZipFile file(zip_fopen_index(m_zip, zip_uint64_t(index), raw ? ZIP_FL_COMPRESSED : 0), zip_fclose);
    if (!file) {
        const int code = zip_error_code_zip(zip_get_error(m_zip));
        if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_ENCRNOTSUPP || code == ZIP_ER_WRONGPASSWD)
            return ReadOutcome::fail(ReadError::Password);
        if (code == ZIP_ER_COMPNOTSUPP)
            return ReadOutcome::fail(ReadError::Method);
        return ReadOutcome::damaged(tr("its part %1 cannot be read").arg(QString::fromUtf8(name)));
    }
    *reader = std::make_unique<ZipEntryReader>(std::move(file), raw, st);
    *claimedOut = claimed;
    *limitOut = limit;
    return ReadOutcome::success();
}

ReadOutcome ZipPackage::read(const QByteArray &name, QByteArray &out, qint64 maxSize) const
{
    out.clear();
    std::unique_ptr<ZipEntryReader> reader;
    qint64 claimed = 0, limit = 0;
    if (ReadOutcome o = openEntry(name, &reader, &claimed, &limit); !o.ok())
        return o;
    const bool bounded = maxSize < limit;
    limit = std::min(limit, maxSize);
    if (claimed > limit)
        return tooLargeOutcome(name);
    const auto bomb = [&] {
        out.clear();
        return bounded ? tooLargeOutcome(name) : bombOutcome(name);
    };
    // The header's size is only a hint: the limit holds for what actually comes out.
    out.resize(std::min<qint64>(claimed + 1, limit + 1));
    qint64 done = 0;
    for (;;) {
        if (done == out.size()) {
            if (done > limit)
                return bomb();
            out.resize(std::min<qint64>(std::max<qint64>(done * 2, 1 << 16), limit + 1));
        }
        const zip_int64_t n = reader->read(out.data() + done, size_t(out.size() - done));
        if (n < 0) {
            const int code = reader->error();
            out.clear();
            if (code == ZIP_ER_MEMORY)
                throw std::bad_alloc();
            return unpackOutcome(name, code);
        }
        if (n == 0)
            break;
        done += n;
    }
    if (done > limit)
        return bomb();
    out.resize(done);
    return ReadOutcome::success();
}

ZipEntryStream::ZipEntryStream() = default;

ZipEntryStream::~ZipEntryStream()
{
    if (m_worker.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_cancel = true;
        }
        m_changed.notify_all();
        m_worker.join();
    }
}

ReadOutcome ZipEntryStream::start(const ZipPackage &zip, const QByteArray &name, Mode mode)
{
    qint64 claimed = 0, limit = 0;
    if (ReadOutcome o = zip.openEntry(name, &m_reader, &claimed, &limit); !o.ok())
        return o;
    m_name = name;
    if (mode == Mode::Inline) {
        // A small part comes in one block. Its header's size is only a hint: the limit holds for
        // what actually comes out.
        m_limit = limit;
        m_blocks.emplace([this](char *out, qint64 room) { return pull(out, room); },
                         qsizetype(std::clamp<qint64>(claimed + 1, 4096, kBlockSize)), kBlockSize);
        return ReadOutcome::success();
    }
    // The header's size, already checked against the limits, is all there may be: a part that
    // turns out larger is damaged (or a bomb).
    m_limit = claimed;
    for (auto &slot : m_slots)
        slot.reset(new char[size_t(XmlScanner::kCarryRoom + kBlockSize)]);
    try {
        m_worker = std::thread(&ZipEntryStream::work, this);
    } catch (...) {
        // The system will not start a thread: the part is unpacked as the scan asks for it.
        for (auto &slot : m_slots)
            slot.reset();
        m_blocks.emplace([this](char *out, qint64 room) { return pull(out, room); }, kBlockSize, kBlockSize);
    }
    return ReadOutcome::success();
}

qint64 ZipEntryStream::pull(char *out, qint64 room)
{
    if (!m_outcome.ok())
        return -1;
    // One byte of room beyond the limit tells a part that exceeds it.
    room = std::min(room, m_limit + 1 - m_unpacked);
    const zip_int64_t n = m_reader->read(out, size_t(room));
    if (n < 0) {
        m_outcome = unpackOutcome(m_name, m_reader->error());
        return -1;
    }
    m_unpacked += n;
    if (m_unpacked > m_limit) {
        m_outcome = bombOutcome(m_name);
        return -1;
    }
    return n;
}

void ZipEntryStream::work()
{
    for (size_t i = 0;; ++i) {
        {
            std::unique_lock lock(m_mutex);
            // Block i - kSlots, the last in this slot, must be two blocks behind the scan.
            m_changed.wait(lock, [&] { return m_cancel || i + 2 < m_asked + kSlots; });
            if (m_cancel)
                return;
        }
        bool end = false;
        const qsizetype filled = XmlBlockReader::fill([this](char *out, qint64 room) { return pull(out, room); },
                                                      m_slots[i % kSlots].get() + XmlScanner::kCarryRoom, kBlockSize,
                                                      &end);
        {
            std::lock_guard lock(m_mutex);
            m_sizes[i % kSlots] = filled;
            if (filled > 0)
                m_unpackedBlocks = i + 1;
            m_finished = end;
        }
        m_changed.notify_all();
        if (end)
            return;
    }
}

std::span<char> ZipEntryStream::nextBlock()
{
    if (m_blocks)
        return m_blocks->next();
    if (!m_worker.joinable())
        return {};
    std::unique_lock lock(m_mutex);
    const size_t i = m_asked++;
    m_changed.notify_all(); // a slot may have come free
    m_changed.wait(lock, [&] { return m_unpackedBlocks > i || m_finished; });
    if (m_unpackedBlocks <= i)
        return {};
    return {m_slots[i % kSlots].get() + XmlScanner::kCarryRoom, size_t(m_sizes[i % kSlots])};
}

ReadOutcome ZipEntryStream::outcome()
{
    while (!nextBlock().empty()) {
    }
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
