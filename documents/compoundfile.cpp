#include "documents/compoundfile.h"

#include <QCoreApplication>
#include <QIODevice>

#include <cstring>

namespace corvalen {

namespace {

constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t FreeSector = 0xFFFFFFFF;
constexpr uint32_t MaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t NoStream = 0xFFFFFFFF;
constexpr char Signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

uint16_t u16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t u32(const uint8_t *p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

QString tr(const char *s) { return QCoreApplication::translate("Documents", s); }

void setError(QString *errorText, const char *what)
{
    if (errorText)
        *errorText = tr(what);
}

} // namespace

bool CompoundFile::hasSignature(QByteArrayView head)
{
    return head.size() >= 8 && std::memcmp(head.data(), Signature, 8) == 0;
}

bool CompoundFile::fail(QString *errorText, const char *what) const
{
    setError(errorText, m_readFailed ? "it could not be read in full" : what);
    return false;
}

bool CompoundFile::readAt(quint64 offset, char *to, quint64 length) const
{
    // Past the size the file had when opened: zeros, for a last sector that a writer did not pad.
    const quint64 have = offset < m_size ? std::min(length, m_size - offset) : 0;
    if (have > 0 && (!m_device->seek(qint64(offset)) || m_device->read(to, qint64(have)) != qint64(have))) {
        m_readFailed = true;
        return false;
    }
    std::memset(to + have, 0, length - have);
    return true;
}

bool CompoundFile::readSector(uint32_t index, std::vector<uint8_t> &to) const
{
    if (index >= m_sectorCount)
        return false;
    to.resize(m_sectorSize);
    return readAt((quint64(index) + 1) * m_sectorSize, reinterpret_cast<char *>(to.data()), m_sectorSize);
}

bool CompoundFile::open(QIODevice *device, qint64 size, QString *errorText)
{
    m_device = device;
    m_size = quint64(std::max<qint64>(size, 0));
    m_readFailed = false;
    m_fat.clear();
    m_miniFat.clear();
    m_entries.clear();
    m_miniStream.clear();
    if (m_size < 512 || !readAt(0, reinterpret_cast<char *>(m_header), 512)
        || !hasSignature(QByteArrayView(m_header, 8)))
        return fail(errorText, "it is not a complete Word 97-2003 file");
    const uint8_t *h = m_header;
    const uint16_t shift = u16(h + 0x1E);
    const uint16_t miniShift = u16(h + 0x20);
    if ((shift != 9 && shift != 12) || miniShift != 6)
        return fail(errorText, "its container header is damaged");
    m_sectorSize = 1u << shift;
    m_miniSectorSize = 1u << miniShift;
    m_miniCutoff = u32(h + 0x38);
    if (m_miniCutoff != 4096)
        m_miniCutoff = 4096; // the only value the format allows; a different one is damage, not intent
    // A last sector cut short by a writer that did not pad the file is still read, zero-padded.
    if (m_size < m_sectorSize)
        return fail(errorText, "it is not a complete Word 97-2003 file");
    m_sectorCount = uint32_t(std::min<quint64>((m_size - m_sectorSize) / m_sectorSize, MaxRegularSector));
    return loadFat(errorText) && loadDirectory(errorText) && loadMiniFat(errorText);
}

bool CompoundFile::loadFat(QString *errorText)
{
    const uint8_t *h = m_header;
    const uint32_t declared = u32(h + 0x2C);
    // More FAT sectors than the file has sectors cannot be right; never trust the count for sizes.
    const uint32_t wanted = std::min(declared, m_sectorCount);
    std::vector<uint32_t> fatSectors;
    fatSectors.reserve(std::min<uint32_t>(wanted, 109));
    for (int i = 0; i < 109 && fatSectors.size() < wanted; ++i) {
        const uint32_t s = u32(h + 0x4C + 4 * i);
        if (s == FreeSector || s == EndOfChain)
            break;
        fatSectors.push_back(s);
    }
    uint32_t difat = u32(h + 0x44);
    const uint32_t perDifat = m_sectorSize / 4 - 1;
    uint32_t steps = 0;
    std::vector<uint8_t> buffer;
    while (fatSectors.size() < wanted && difat <= MaxRegularSector) {
        if (++steps > m_sectorCount || !readSector(difat, buffer))
            return fail(errorText, "its sector allocation table is damaged");
        const uint8_t *p = buffer.data();
        for (uint32_t i = 0; i < perDifat && fatSectors.size() < wanted; ++i) {
            const uint32_t s = u32(p + 4 * i);
            if (s == FreeSector || s == EndOfChain)
                break;
            fatSectors.push_back(s);
        }
        difat = u32(p + 4 * perDifat);
    }
    const uint32_t perSector = m_sectorSize / 4;
    m_fat.reserve(size_t(fatSectors.size()) * perSector);
    for (uint32_t s : fatSectors) {
        if (!readSector(s, buffer))
            return fail(errorText, "its sector allocation table points outside the file");
        for (uint32_t i = 0; i < perSector; ++i)
            m_fat.push_back(u32(buffer.data() + 4 * i));
    }
    if (m_fat.empty())
        return fail(errorText, "its sector allocation table is missing");
    return true;
}

bool CompoundFile::readChain(uint32_t start, uint64_t size, bool mini, QByteArray *out, QString *errorText) const
{
    const std::vector<uint32_t> &fat = mini ? m_miniFat : m_fat;
    const uint32_t unit = mini ? m_miniSectorSize : m_sectorSize;
    const quint64 available = mini ? quint64(m_miniStream.size()) : quint64(m_sectorCount + 1) * m_sectorSize;
    if (size > available)
        return fail(errorText, "a stream is larger than the file");
    out->resize(qsizetype(size));
    char *dst = out->data();
    uint64_t done = 0;
    uint32_t s = start;
    // Sectors that follow each other in the file are read in one go; a stream usually is one run.
    quint64 runOffset = 0, runLength = 0, runTarget = 0;
    const auto readRun = [&] {
        const bool ok = runLength == 0 || readAt(runOffset, dst + runTarget, runLength);
        runLength = 0;
        return ok;
    };
    // The chain needs exactly ceil(size / unit) links, which bounds the work; a link seen twice
    // means the table is damaged.
    std::vector<bool> seen(fat.size(), false);
    while (done < size) {
        if (s < fat.size() && seen[s])
            return fail(errorText, "its sector chains run in a circle");
        if (s >= fat.size() || s > MaxRegularSector)
            return fail(errorText, s == EndOfChain ? "a stream ends early" : "a sector number is out of range");
        const uint64_t n = std::min<uint64_t>(unit, size - done);
        if (mini) {
            const quint64 off = quint64(s) * unit;
            if (off + n > quint64(m_miniStream.size()))
                return fail(errorText, "a sector number is out of range");
            std::memcpy(dst + done, m_miniStream.constData() + off, n);
        } else {
            const quint64 off = (quint64(s) + 1) * unit;
            if (off >= m_size)
                return fail(errorText, "a sector number is out of range");
            if (runLength > 0 && runOffset + runLength == off) {
                runLength += n;
            } else {
                if (!readRun())
                    return fail(errorText, "a stream could not be read");
                runOffset = off;
                runTarget = done;
                runLength = n;
            }
        }
        done += n;
        seen[s] = true;
        s = fat[s];
    }
    if (!readRun())
        return fail(errorText, "a stream could not be read");
    return true;
}

bool CompoundFile::loadDirectory(QString *errorText)
{
    const bool version3 = u16(m_header + 0x1A) == 3;
    uint32_t s = u32(m_header + 0x30);
    std::vector<bool> seen(m_sectorCount, false);
    const uint32_t perSector = m_sectorSize / 128;
    std::vector<uint8_t> buffer;
    while (s != EndOfChain) {
        if (s >= m_fat.size() || s >= m_sectorCount || seen[s] || !readSector(s, buffer))
            return fail(errorText, "its directory is damaged");
        seen[s] = true;
        for (uint32_t i = 0; i < perSector; ++i) {
            const uint8_t *e = buffer.data() + 128 * i;
            Entry entry;
            const int nameBytes = std::min<int>(u16(e + 0x40), 64);
            const int chars = std::max(0, nameBytes / 2 - 1);
            entry.name.resize(chars);
            for (int c = 0; c < chars; ++c)
                entry.name[c] = QChar(u16(e + 2 * c));
            entry.type = e[0x42];
            entry.left = u32(e + 0x44);
            entry.right = u32(e + 0x48);
            entry.child = u32(e + 0x4C);
            entry.start = u32(e + 0x74);
            entry.size = version3 ? u32(e + 0x78) : (quint64(u32(e + 0x78)) | (quint64(u32(e + 0x7C)) << 32));
            m_entries.push_back(std::move(entry));
        }
        s = m_fat[s];
    }
    if (m_entries.empty() || m_entries[0].type != 5)
        return fail(errorText, "its directory is damaged");
    return true;
}

bool CompoundFile::loadMiniFat(QString *errorText)
{
    uint32_t s = u32(m_header + 0x3C);
    std::vector<bool> seen(m_sectorCount, false);
    std::vector<uint8_t> buffer;
    while (s != EndOfChain && s != FreeSector) {
        if (s >= m_fat.size() || s >= m_sectorCount || seen[s] || !readSector(s, buffer))
            return fail(errorText, "its small-sector table is damaged");
        seen[s] = true;
        for (uint32_t i = 0; i < m_sectorSize / 4; ++i)
            m_miniFat.push_back(u32(buffer.data() + 4 * i));
        s = m_fat[s];
    }
    const Entry &root = m_entries[0];
    if (root.size > 0 && !m_miniFat.empty()) {
        const uint64_t size = std::min<uint64_t>(root.size, uint64_t(m_miniFat.size()) * m_miniSectorSize);
        if (!readChain(root.start, size, false, &m_miniStream, errorText))
            return false;
    }
    return true;
}

const CompoundFile::Entry *CompoundFile::findRootChild(QStringView name) const
{
    // The children of a storage form a binary tree through left/right links; walk it without
    // recursion and without trusting it to be acyclic.
    std::vector<uint32_t> pending{m_entries[0].child};
    std::vector<bool> seen(m_entries.size(), false);
    while (!pending.empty()) {
        const uint32_t i = pending.back();
        pending.pop_back();
        if (i == NoStream || i >= m_entries.size() || seen[i])
            continue;
        seen[i] = true;
        const Entry &e = m_entries[i];
        if ((e.type == 1 || e.type == 2) && QStringView(e.name).compare(name, Qt::CaseInsensitive) == 0)
            return &e;
        pending.push_back(e.left);
        pending.push_back(e.right);
    }
    return nullptr;
}

bool CompoundFile::hasStream(QStringView name) const
{
    const Entry *e = m_entries.empty() ? nullptr : findRootChild(name);
    return e && e->type == 2;
}

std::optional<QByteArray> CompoundFile::readStream(QStringView name, QString *errorText) const
{
    const Entry *e = m_entries.empty() ? nullptr : findRootChild(name);
    if (!e || e->type != 2) {
        fail(errorText, "a part of the document is missing");
        return std::nullopt;
    }
    QByteArray out;
    if (!readChain(e->start, e->size, e->size < m_miniCutoff, &out, errorText))
        return std::nullopt;
    return out;
}

} // namespace corvalen
