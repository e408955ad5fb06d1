#include "docbuilder.h"

#include <QtEndian>

#include <algorithm>
#include <set>

namespace corvalen::test {

namespace {

void put16(QByteArray &b, qsizetype at, uint16_t v) { qToLittleEndian(v, b.data() + at); }
void put32(QByteArray &b, qsizetype at, uint32_t v) { qToLittleEndian(v, b.data() + at); }
void append16(QByteArray &b, uint16_t v) { b.resize(b.size() + 2); put16(b, b.size() - 2, v); }
void append32(QByteArray &b, uint32_t v) { b.resize(b.size() + 4); put32(b, b.size() - 4, v); }

constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t FreeSector = 0xFFFFFFFF;

} // namespace

CompoundLayout buildCompoundFile(const std::vector<std::pair<QString, QByteArray>> &streams)
{
    std::vector<QByteArray> padded;
    uint32_t dataSectors = 0;
    for (const auto &s : streams) {
        QByteArray d = s.second;
        d.resize(std::max<qsizetype>(4096, (d.size() + 511) / 512 * 512), '\0');
        dataSectors += uint32_t(d.size() / 512);
        padded.push_back(d);
    }
    const uint32_t dirSectors = uint32_t((streams.size() + 1 + 3) / 4);
    uint32_t fatSectors = 1;
    while (fatSectors * 128 < fatSectors + dirSectors + dataSectors)
        ++fatSectors;
    const uint32_t total = fatSectors + dirSectors + dataSectors;

    CompoundLayout out;
    QByteArray &b = out.bytes;
    b = QByteArray(512 + qsizetype(total) * 512, '\0');
    b.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    put16(b, 0x18, 0x3E);
    put16(b, 0x1A, 3);
    put16(b, 0x1C, 0xFFFE);
    put16(b, 0x1E, 9);
    put16(b, 0x20, 6);
    put32(b, 0x2C, fatSectors);
    put32(b, 0x30, fatSectors);
    put32(b, 0x38, 4096);
    put32(b, 0x3C, EndOfChain);
    put32(b, 0x44, EndOfChain);
    for (int i = 0; i < 109; ++i)
        put32(b, 0x4C + 4 * i, uint32_t(i) < fatSectors ? uint32_t(i) : FreeSector);

    std::vector<uint32_t> fat(fatSectors * 128, FreeSector);
    for (uint32_t i = 0; i < fatSectors; ++i)
        fat[i] = 0xFFFFFFFD;
    for (uint32_t i = 0; i < dirSectors; ++i)
        fat[fatSectors + i] = i + 1 < dirSectors ? fatSectors + i + 1 : EndOfChain;
    uint32_t next = fatSectors + dirSectors;
    for (const QByteArray &d : padded) {
        out.streamStart.push_back(next);
        const uint32_t n = uint32_t(d.size() / 512);
        for (uint32_t i = 0; i < n; ++i)
            fat[next + i] = i + 1 < n ? next + i + 1 : EndOfChain;
        b.replace(512 + qsizetype(next) * 512, d.size(), d);
        next += n;
    }
    out.fatOffset = 512;
    for (uint32_t i = 0; i < fat.size(); ++i)
        put32(b, 512 + 4 * i, fat[i]);

    out.directoryOffset = 512 + qsizetype(fatSectors) * 512;
    auto entry = [&](int index, const QString &name, uint8_t type, uint32_t child, uint32_t right, uint32_t start, uint32_t size) {
        const qsizetype at = out.directoryOffset + 128 * index;
        for (int c = 0; c < name.size(); ++c)
            put16(b, at + 2 * c, name[c].unicode());
        put16(b, at + 0x40, uint16_t(2 * (name.size() + 1)));
        b[at + 0x42] = char(type);
        b[at + 0x43] = 1; // black
        put32(b, at + 0x44, FreeSector);
        put32(b, at + 0x48, right);
        put32(b, at + 0x4C, child);
        put32(b, at + 0x74, start);
        put32(b, at + 0x78, size);
    };
    entry(0, QStringLiteral("Root Entry"), 5, streams.empty() ? FreeSector : 1, FreeSector, EndOfChain, 0);
    for (size_t i = 0; i < streams.size(); ++i) {
        const uint32_t right = i + 1 < streams.size() ? uint32_t(i + 2) : FreeSector;
        entry(int(i + 1), streams[i].first, 2, FreeSector, right, out.streamStart[i], uint32_t(padded[i].size()));
    }
    // Unused directory slots are empty entries with no links.
    for (qsizetype i = qsizetype(streams.size()) + 1; i < qsizetype(dirSectors) * 4; ++i) {
        const qsizetype at = out.directoryOffset + 128 * i;
        put32(b, at + 0x44, FreeSector);
        put32(b, at + 0x48, FreeSector);
        put32(b, at + 0x4C, FreeSector);
    }
    return out;
}

DocLayout buildDoc(const DocSpec &doc)
{
    constexpr qsizetype FkpAt = 1024;
    constexpr qsizetype TextAt = 1536;
    QByteArray word(TextAt, '\0');
    put16(word, 0, 0xA5EC);
    put16(word, 2, doc.nFib);
    uint16_t flags = 0x0200 | 0x0004; // 1Table, complex
    if (doc.encrypted)
        flags |= 0x0100;
    put16(word, 0x0A, flags);
    put16(word, 32, 14);          // csw
    put16(word, 62, 22);          // cslw
    const qsizetype lw = 64;
    put16(word, 152, 93);         // cbRgFcLcb
    const qsizetype fcLcb = 154;

    // Text: pieces are stored last first, so that reading in file order would be wrong.
    std::vector<uint32_t> fcOf(doc.pieces.size());
    std::vector<uint32_t> byteOf(doc.pieces.size());
    for (qsizetype i = qsizetype(doc.pieces.size()) - 1; i >= 0; --i) {
        const DocPiece &p = doc.pieces[size_t(i)];
        byteOf[size_t(i)] = uint32_t(word.size());
        if (p.compressed) {
            fcOf[size_t(i)] = (uint32_t(word.size()) * 2) | 0x40000000;
            for (QChar c : p.text)
                word.append(char(c.unicode() < 0x100 ? c.unicode() : '?'));
        } else {
            fcOf[size_t(i)] = uint32_t(word.size());
            for (QChar c : p.text)
                append16(word, c.unicode());
        }
    }
    int total = 0;
    for (const DocPiece &p : doc.pieces)
        total += int(p.text.size());
    total *= doc.repeat;
    put32(word, lw + 12, uint32_t(doc.ccpText < 0 ? total : doc.ccpText));

    QByteArray table;
    // Clx: one property list to step over, then the piece table.
    table.append(char(1));
    append16(table, 3);
    table.append("\x3C\x08\x00", 3);
    table.append(char(2));
    const size_t listed = doc.pieces.size() * size_t(doc.repeat);
    const uint32_t lcbPcd = uint32_t(4 * (listed + 1) + 8 * listed);
    append32(table, lcbPcd);
    DocLayout out;
    out.pieceTableOffset = table.size();
    int cp = 0;
    append32(table, 0);
    for (int r = 0; r < doc.repeat; ++r) {
        for (const DocPiece &p : doc.pieces) {
            cp += int(p.text.size());
            append32(table, uint32_t(cp));
        }
    }
    for (size_t i = 0; i < listed; ++i) {
        append16(table, 0);
        append32(table, fcOf[i % doc.pieces.size()]);
        append16(table, 0);
    }
    put32(word, fcLcb + 8 * 33, 0);
    put32(word, fcLcb + 8 * 33 + 4, uint32_t(table.size()));

    if (!doc.sectionEnds.isEmpty()) {
        const uint32_t at = uint32_t(table.size());
        append32(table, 0);
        for (int cpEnd : doc.sectionEnds)
            append32(table, uint32_t(cpEnd));
        table.append(QByteArray(12 * doc.sectionEnds.size(), '\0'));
        put32(word, fcLcb + 8 * 6, at);
        put32(word, fcLcb + 8 * 6 + 4, uint32_t(table.size()) - at);
    }

    if (!doc.hiddenChars.isEmpty()) {
        // Map character ranges to byte ranges of the stream, then one FKP of contiguous runs.
        std::vector<std::pair<uint32_t, uint32_t>> hidden;
        for (const auto &[from, to] : doc.hiddenChars) {
            int start = 0;
            for (size_t i = 0; i < doc.pieces.size(); ++i) {
                const int len = int(doc.pieces[i].text.size());
                if (from >= start && from < start + len) {
                    const uint32_t w = doc.pieces[i].compressed ? 1 : 2;
                    hidden.emplace_back(byteOf[i] + w * uint32_t(from - start), byteOf[i] + w * uint32_t(to - start));
                    break;
                }
                start += len;
            }
        }
        std::set<uint32_t> bounds{uint32_t(TextAt), uint32_t(word.size())};
        for (const auto &h : hidden) {
            bounds.insert(h.first);
            bounds.insert(h.second);
        }
        const std::vector<uint32_t> b(bounds.begin(), bounds.end());
        const int crun = int(b.size()) - 1;
        for (int r = 0; r <= crun; ++r)
            put32(word, FkpAt + 4 * r, b[size_t(r)]);
        for (int r = 0; r < crun; ++r) {
            const bool isHidden = std::find_if(hidden.begin(), hidden.end(), [&](auto h) { return h.first == b[size_t(r)]; }) != hidden.end();
            word[FkpAt + 4 * (crun + 1) + r] = char(isHidden ? 250 : 0);
        }
        word[FkpAt + 500] = 3;
        word[FkpAt + 501] = char(0x3C);
        word[FkpAt + 502] = char(0x08);
        word[FkpAt + 503] = 1;
        word[FkpAt + 511] = char(crun);
        const uint32_t plcAt = uint32_t(table.size());
        append32(table, b.front());
        append32(table, b.back());
        append32(table, FkpAt / 512);
        put32(word, fcLcb + 8 * 12, plcAt);
        put32(word, fcLcb + 8 * 12 + 4, 12);
    }

    out.file = buildCompoundFile({{QStringLiteral("WordDocument"), word}, {QStringLiteral("1Table"), table}});
    return out;
}

QByteArray simpleDoc(const QString &text)
{
    DocSpec doc;
    doc.pieces.push_back({text, true});
    return buildDoc(doc).file.bytes;
}

} // namespace corvalen::test
