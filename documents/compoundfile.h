#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QIODevice;

#include <cstdint>
#include <optional>
#include <vector>

namespace corvalen {

/// Read-only view of an OLE compound file (the container of Word 97-2003 documents): its header,
/// FAT and mini-FAT chains and the directory. Every number in the file is checked against the file's
/// size before use, so a damaged or hostile file gives an error text, never a crash or a loop.
/// Sectors are read from the device when needed, never mapped: a file that shrinks meanwhile gives
/// a failed read, not a fault.
class CompoundFile
{
public:
    /// Whether these bytes start with the compound-file signature.
    static bool hasSignature(QByteArrayView head);

    /// Parses the container in device, an open random-access device of the given size that must
    /// outlive this object. On failure returns false and sets errorText to what is wrong, in plain
    /// words.
    bool open(QIODevice *device, qint64 size, QString *errorText);

    /// Whether the root storage holds a stream of this name (names compare case-insensitively,
    /// as the format wants).
    bool hasStream(QStringView name) const;

    /// The whole content of the named stream at the root, or nothing (with errorText set) when it
    /// is missing or its sector chain is broken.
    std::optional<QByteArray> readStream(QStringView name, QString *errorText) const;

    /// Whether the last failure came from the device (an error, or the file cut short while it was
    /// read) rather than from the content.
    bool readFailed() const { return m_readFailed; }

private:
    struct Entry
    {
        QString name;
        uint8_t type = 0;
        uint32_t left = 0, right = 0, child = 0;
        uint32_t start = 0;
        uint64_t size = 0;
    };

    bool readChain(uint32_t start, uint64_t size, bool mini, QByteArray *out, QString *errorText) const;
    bool loadFat(QString *errorText);
    bool loadDirectory(QString *errorText);
    bool loadMiniFat(QString *errorText);
    const Entry *findRootChild(QStringView name) const;
    /// Sets errorText to what, or to a read failure when the device failed; returns false.
    bool fail(QString *errorText, const char *what) const;
    bool readAt(quint64 offset, char *to, quint64 length) const;
    /// False when the file has no such whole sector or the device fails.
    bool readSector(uint32_t index, std::vector<uint8_t> &to) const;

    QIODevice *m_device = nullptr;
    quint64 m_size = 0;
    uint8_t m_header[512] = {};
    mutable bool m_readFailed = false;
    uint32_t m_sectorSize = 512;
    uint32_t m_miniSectorSize = 64;
    uint32_t m_miniCutoff = 4096;
    uint32_t m_sectorCount = 0; ///< sectors that fit in the file
    std::vector<uint32_t> m_fat;
    std::vector<uint32_t> m_miniFat;
    std::vector<Entry> m_entries;
    QByteArray m_miniStream;
};

} // namespace corvalen
