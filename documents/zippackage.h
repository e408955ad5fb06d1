#pragma once

#include "documents/formatreader.h"
#include "engine/largememory.h"

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
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

    ZipPackage() = default;
    ~ZipPackage();
    ZipPackage(const ZipPackage &) = delete;
    ZipPackage &operator=(const ZipPackage &) = delete;

    /// Opens the archive; Damaged when it is no complete zip archive.
    ReadOutcome open(QFile &file);
    bool contains(const char *name) const;
    /// Reads one entry whole into out; NotFound-free: a missing entry is Damaged with detail.
    ReadOutcome read(const QByteArray &name, QByteArray &out) const;

    /// The size an entry's header gives, or -1 when there is no such entry.
    qint64 entrySize(const QByteArray &name) const;

private:
    friend class ZipEntryStream;
    ReadOutcome openEntry(const QByteArray &name, std::unique_ptr<ZipEntryReader> *reader, qint64 *claimed,
                          qint64 *limit) const;

    zip *m_zip = nullptr;
};

/// Unpacks one entry on a worker thread into a buffer of the size its header gives, so that
/// the XML at its start can be scanned while the rest is still being inflated. The data seen
/// so far always ends just before a '<', so no tag is ever cut off.
class ZipEntryStream
{
public:
    ZipEntryStream() = default;
    ~ZipEntryStream();
    ZipEntryStream(const ZipEntryStream &) = delete;
    ZipEntryStream &operator=(const ZipEntryStream &) = delete;

    /// Starts unpacking; fails as ZipPackage::read() would. The package must stay open until
    /// outcome() has been taken or this object is destroyed.
    ReadOutcome start(const ZipPackage &zip, const QByteArray &name);
    const char *data() const { return m_buffer.get(); }
    /// Waits until more than `have` bytes may be read or the entry is complete; returns how many
    /// bytes may be read and sets final once all of them are there.
    size_t waitForMore(size_t have, bool *final);
    /// Waits for the worker and returns what it met (a checksum failure, a size that lies).
    ReadOutcome outcome();

private:
    void work(std::unique_ptr<ZipEntryReader> reader, QByteArray name);

    std::unique_ptr<char[], LargeMemoryDeleter> m_buffer;
    size_t m_capacity = 0;
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_available = 0; // guarded by m_mutex
    bool m_done = false;    // guarded by m_mutex
    ReadOutcome m_outcome;  // written by the worker before m_done
    std::atomic<bool> m_cancel{false};
};

/// A path inside the package from a relationship target, relative to the folder of the part
/// that holds the relationship ("" for the package root). Leading slashes, "." and ".." are
/// resolved; the result never leaves the package.
QByteArray resolvePartName(const QByteArray &baseFolder, const QByteArray &target);

} // namespace corvalen
