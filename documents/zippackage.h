#pragma once

#include "documents/formatreader.h"

#include <QByteArray>

struct zip;

namespace corvalen {

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

private:
    zip *m_zip = nullptr;
    QByteArray m_copy;      // the file's bytes when it cannot be mapped
};

/// A path inside the package from a relationship target, relative to the folder of the part
/// that holds the relationship ("" for the package root). Leading slashes, "." and ".." are
/// resolved; the result never leaves the package.
QByteArray resolvePartName(const QByteArray &baseFolder, const QByteArray &target);

} // namespace corvalen
