#pragma once

#include "documents/formatreader.h"
#include "documents/xmlscanner.h"

#include <QByteArray>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

struct zip;

namespace corvalen {

class ZipEntryReader;

/// A zip package (.docx, .odt) opened read-only from a file, guarded against the usual attacks:
/// an entry may not inflate beyond a fixed multiple of its compressed size nor beyond an
/// absolute limit, whatever its header claims.
class ZipPackage
{
public:
    static constexpr qint64 kMaxEntrySize = qint64(256) << 20;
    static constexpr qint64 kMaxRatio = 1100; // above any real deflate stream's ratio
    /// A part read whole (relationships, a manifest) is never bigger than this in a real package.
    static constexpr qint64 kMaxWholePart = qint64(16) << 20;

    ZipPackage() = default;
    ~ZipPackage();
    ZipPackage(const ZipPackage &) = delete;
    ZipPackage &operator=(const ZipPackage &) = delete;

    /// Opens the archive; Damaged when it is no complete zip archive.
    ReadOutcome open(QFile &file);
    bool contains(const char *name) const;
    /// Reads one entry whole into out; NotFound-free: a missing entry is Damaged with detail, so
    /// is one bigger than maxSize. Password or Method when it cannot be unpacked at all.
    ReadOutcome read(const QByteArray &name, QByteArray &out, qint64 maxSize = kMaxWholePart) const;

    /// The size an entry's header gives, or -1 when there is no such entry.
    qint64 entrySize(const QByteArray &name) const;

private:
    friend class ZipEntryStream;
    ReadOutcome openEntry(const QByteArray &name, std::unique_ptr<ZipEntryReader> *reader, qint64 *claimed,
                          qint64 *limit) const;

    zip *m_zip = nullptr;
};

/// Unpacks one entry block by block for XmlScanner, so that a part of any size is read in
/// bounded memory. A big part is unpacked on a worker thread a few blocks ahead of the scan.
class ZipEntryStream
{
public:
    enum class Mode { Inline, Background };

    ZipEntryStream();
    ~ZipEntryStream();
    ZipEntryStream(const ZipEntryStream &) = delete;
    ZipEntryStream &operator=(const ZipEntryStream &) = delete;

    /// Starts unpacking; fails as ZipPackage::read() would. The package must stay open until
    /// outcome() has been taken or this object is destroyed.
    ReadOutcome start(const ZipPackage &zip, const QByteArray &name, Mode mode = Mode::Inline);
    /// The entry's next block, as XmlScanner::Source gives it; empty after the last, and after a
    /// failure (outcome() tells which).
    std::span<char> nextBlock();
    XmlScanner::Source source()
    {
        return [this] { return nextBlock(); };
    }
    /// Unpacks whatever the scan left (a failure there explains a scan that ran short) and returns
    /// what unpacking met: a checksum failure, a part bigger than it may be.
    ReadOutcome outcome();

private:
    static constexpr int kSlots = 4;
    static constexpr qsizetype kBlockSize = 1 << 20;

    qint64 pull(char *out, qint64 room);
    void work();

    std::unique_ptr<ZipEntryReader> m_reader;
    QByteArray m_name;
    qint64 m_limit = 0;
    qint64 m_unpacked = 0;
    ReadOutcome m_outcome; // written by the worker before m_finished
    std::optional<XmlBlockReader> m_blocks; // inline

    // Background: block i is unpacked into slot i % kSlots once the scan is done with block
    // i - kSlots; the scan keeps the block it reads and the one before.
    std::unique_ptr<char[]> m_slots[kSlots];
    qsizetype m_sizes[kSlots] = {};
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_asked = 0;     // blocks the scan has asked for; guarded by m_mutex
    size_t m_unpackedBlocks = 0; // guarded by m_mutex
    bool m_finished = false;     // guarded by m_mutex
    bool m_cancel = false;       // guarded by m_mutex
};

/// A path inside the package from a relationship target, relative to the folder of the part
/// that holds the relationship ("" for the package root). Leading slashes, "." and ".." are
/// resolved; the result never leaves the package.
QByteArray resolvePartName(const QByteArray &baseFolder, const QByteArray &target);

} // namespace corvalen
