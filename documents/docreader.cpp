#include "documents/docreader.h"

#include "documents/compoundfile.h"
#include "documents/legacysupport.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <optional>
#include <vector>

namespace corvalen {

namespace {

QString tr(const char *s) { return QCoreApplication::translate("Documents", s); }

uint16_t u16(QByteArrayView d, qsizetype at)
{
    return uint16_t(uchar(d[at]) | (uchar(d[at + 1]) << 8));
}
uint32_t u32(QByteArrayView d, qsizetype at)
{
    return uint32_t(uchar(d[at])) | (uint32_t(uchar(d[at + 1])) << 8) | (uint32_t(uchar(d[at + 2])) << 16)
        | (uint32_t(uchar(d[at + 3])) << 24);
}
bool fits(QByteArrayView d, quint64 at, quint64 length)
{
    return at <= quint64(d.size()) && length <= quint64(d.size()) - at;
}

// Property modifiers that take a run out of the main-body text: hidden text and tracked
// deletions (the text reads as with every change accepted).
constexpr uint16_t SprmCFRMarkDel = 0x0800;
constexpr uint16_t SprmCFVanish = 0x083C;

using Range = std::pair<uint32_t, uint32_t>; // [begin, end) byte offsets in the WordDocument stream

/// Byte ranges of the WordDocument stream whose characters are hidden or deleted, sorted and
/// merged, from the character-property pages (PlcBteChpx and its FKPs).
std::vector<Range> excludedRanges(QByteArrayView word, QByteArrayView table, uint32_t fcPlc, uint32_t lcbPlc,
                                  bool keepDeletions)
{
    std::vector<Range> out;
    if (lcbPlc < 12 || !fits(table, fcPlc, lcbPlc))
        return out;
    const uint32_t n = (lcbPlc - 4) / 8;
    const qsizetype pnBase = qsizetype(fcPlc) + 4 * (qsizetype(n) + 1);
    // Each page is read once, however often the table names it: the ranges then stay in
    // proportion to the stream.
    std::vector<bool> seenPages(size_t(word.size() / 512) + 1, false);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t pn = u32(table, pnBase + 4 * i) & 0x3FFFFF;
        const quint64 page = quint64(pn) * 512;
        if (!fits(word, page, 512) || seenPages[pn])
            continue;
        seenPages[pn] = true;
        const QByteArrayView fkp = word.sliced(qsizetype(page), 512);
        const uint32_t crun = uchar(fkp[511]);
        if (crun == 0 || 4 * (crun + 1) + crun > 511)
            continue;
        for (uint32_t r = 0; r < crun; ++r) {
            const uint32_t begin = u32(fkp, 4 * r);
            const uint32_t end = u32(fkp, 4 * (r + 1));
            const uint32_t offset = 2u * uchar(fkp[4 * (crun + 1) + r]);
            if (offset == 0 || offset >= 511 || end <= begin)
                continue;
            const uint32_t cb = std::min<uint32_t>(uchar(fkp[offset]), 511 - offset - 1);
            const QByteArrayView grpprl = fkp.sliced(offset + 1, cb);
            bool excluded = false;
            for (qsizetype p = 0; p + 2 <= grpprl.size();) {
                const uint16_t sprm = u16(grpprl, p);
                p += 2;
                qsizetype operand = 0;
                switch (sprm >> 13) {
                case 0: case 1: operand = 1; break;
                case 2: case 4: case 5: operand = 2; break;
                case 3: operand = 4; break;
                case 7: operand = 3; break;
                case 6: operand = p < grpprl.size() ? 1 + uchar(grpprl[p]) : 1; break;
                }
                if ((sprm == SprmCFVanish || (sprm == SprmCFRMarkDel && !keepDeletions)) && p < grpprl.size()) {
                    const uchar v = uchar(grpprl[p]);
                    if (v == 1 || v == 0x81)
                        excluded = true;
                }
                p += operand;
            }
            if (excluded)
                out.emplace_back(begin, end);
        }
    }
    std::sort(out.begin(), out.end());
    std::vector<Range> merged;
    for (const Range &r : out) {
        if (!merged.empty() && r.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, r.second);
        else
            merged.push_back(r);
    }
    return merged;
}

/// Turns the characters of the main text into Word's plain text: fields show their result,
/// table marks end paragraphs, anchors and note references add nothing.
class DocText
{
public:
    /// sectionMarks: sorted character positions of section breaks.
    DocText(const TextSink &sink, std::vector<uint32_t> sectionMarks)
        : m_out(sink), m_sectionMarks(std::move(sectionMarks)) {}

    /// A section break (12 at the end of a section) also ends its paragraph, as in the other
    /// formats; a page break stays 12.
    char16_t atPosition(char16_t c, uint32_t cp) const
    {
        if (c == 12 && std::binary_search(m_sectionMarks.begin(), m_sectionMarks.end(), cp))
            return 13;
        return c;
    }

    void put(char16_t c)
    {
        switch (c) {
        case 19: // field begin: its code follows
            m_fields.push_back(true);
            ++m_inCode;
            return;
        case 20: // field separator: its result follows
            if (!m_fields.empty() && m_fields.back()) {
                m_fields.back() = false;
                --m_inCode;
            }
            return;
        case 21: // field end
            if (!m_fields.empty()) {
                if (m_fields.back())
                    --m_inCode;
                m_fields.pop_back();
            }
            return;
        default:
            break;
        }
        if (m_inCode > 0)
            return;
        if (c < 9) {
            // 7 ends a table cell or row; 0-6 and 8 are anchors, note and comment references.
            if (c == 7)
                m_out.put(char16_t(13));
            return;
        }
        m_out.put(c);
    }
    /// A character in hidden or deleted text: only field structure matters.
    void skip(char16_t c)
    {
        if (c == 19 || c == 20 || c == 21)
            put(c);
    }
    /// A stretch of shown characters: ordinary ones go straight to the output, only control
    /// characters take the slow path.
    template<bool Compressed>
    void putRun(const uchar *data, uint32_t count, uint32_t firstCp)
    {
        char16_t buffer[4096];
        qsizetype used = 0;
        for (uint32_t k = 0; k < count; ++k) {
            const char16_t c = Compressed ? windows1252(data[k]) : char16_t(data[2 * k] | (data[2 * k + 1] << 8));
            if (c >= 0x20 && m_inCode == 0) {
                buffer[used++] = c;
                if (used == qsizetype(std::size(buffer))) {
                    m_out.put(QStringView(buffer, used));
                    used = 0;
                }
                continue;
            }
            if (used > 0) {
                m_out.put(QStringView(buffer, used));
                used = 0;
            }
            put(atPosition(c, firstCp + k));
        }
        if (used > 0)
            m_out.put(QStringView(buffer, used));
    }
    void finish() { m_out.finish(); }

private:
    TextWriter m_out;
    std::vector<uint32_t> m_sectionMarks;
    std::vector<bool> m_fields; // true while the field's code is being read
    qsizetype m_inCode = 0;
};

} // namespace

QString DocReader::name() const
{
    return QStringLiteral("doc");
}

bool DocReader::recognises(QByteArrayView head) const
{
    return CompoundFile::hasSignature(head);
}

ReadOutcome DocReader::read(QFile &file, const TextSink &sink) const
{
    CompoundFile container;
    QString error;
    // A failure to read is the device's or the file changed meanwhile: not damage of the document.
    const auto failed = [&] {
        if (container.readFailed())
            return ReadOutcome::fail(ReadError::ReadFailed, file.error() != QFileDevice::NoError
                                             ? file.errorString() : tr("it changed while it was read"));
        return ReadOutcome::damaged(error);
    };
    if (!container.open(&file, file.size(), &error))
        return failed();
    if (!container.hasStream(u"WordDocument")) {
        // An Office 2007+ document saved with a password is a compound file holding the
        // encrypted package.
        if (container.hasStream(u"EncryptedPackage") || container.hasStream(u"EncryptionInfo"))
            return ReadOutcome::fail(ReadError::Password);
        return ReadOutcome::fail(ReadError::Unsupported);
    }
    const std::optional<QByteArray> wordStream = container.readStream(u"WordDocument", &error);
    if (!wordStream)
        return failed();
    const QByteArrayView word(*wordStream);
    if (word.size() < 34 || u16(word, 0) != 0xA5EC)
        return ReadOutcome::damaged(tr("its file information block is damaged"));
    const uint16_t nFib = u16(word, 2);
    if (nFib < 0xC0)
        return ReadOutcome::fail(ReadError::TooOld);
    const uint16_t flags = u16(word, 0x0A);
    if (flags & 0x0100) // fEncrypted (also set for the XOR obfuscation)
        return ReadOutcome::fail(ReadError::Password);
    const bool table1 = flags & 0x0200;

    // The FIB: a fixed base, then counted arrays of 16-bit values, 32-bit values and fc/lcb pairs.
    const qsizetype csw = u16(word, 32);
    const qsizetype lwAt = 34 + 2 * csw + 2;
    if (!fits(word, 34 + 2 * csw, 2))
        return ReadOutcome::damaged(tr("its file information block is damaged"));
    const qsizetype cslw = u16(word, 34 + 2 * csw);
    const qsizetype fcLcbCountAt = lwAt + 4 * cslw;
    if (cslw < 4 || !fits(word, fcLcbCountAt, 2))
        return ReadOutcome::damaged(tr("its file information block is damaged"));
    const qsizetype pairs = u16(word, fcLcbCountAt);
    const qsizetype pairsAt = fcLcbCountAt + 2;
    if (pairs < 34 || !fits(word, pairsAt, 8 * 34))
        return ReadOutcome::damaged(tr("its file information block is damaged"));
    const int32_t ccpTextSigned = int32_t(u32(word, lwAt + 12));
    if (ccpTextSigned < 0)
        return ReadOutcome::damaged(tr("its text length is impossible"));
    const uint32_t ccpText = uint32_t(ccpTextSigned);
    const uint32_t fcClx = u32(word, pairsAt + 8 * 33);
    const uint32_t lcbClx = u32(word, pairsAt + 8 * 33 + 4);
    const uint32_t fcChpx = u32(word, pairsAt + 8 * 12);
    const uint32_t lcbChpx = u32(word, pairsAt + 8 * 12 + 4);
    const uint32_t fcSed = u32(word, pairsAt + 8 * 6);
    const uint32_t lcbSed = u32(word, pairsAt + 8 * 6 + 4);

    const std::optional<QByteArray> tableStream = container.readStream(table1 ? u"1Table" : u"0Table", &error);
    if (!tableStream)
        return failed();
    const QByteArrayView table(*tableStream);
    if (lcbClx == 0 || !fits(table, fcClx, lcbClx))
        return ReadOutcome::damaged(tr("its text table is missing"));

    // The Clx: property lists (type 1) to step over, then the piece table (type 2).
    const QByteArrayView clx = table.sliced(fcClx, lcbClx);
    qsizetype pos = 0;
    QByteArrayView plcPcd;
    while (pos < clx.size()) {
        const uchar type = uchar(clx[pos]);
        if (type == 1 && fits(clx, pos + 1, 2)) {
            pos += 3 + u16(clx, pos + 1);
        } else if (type == 2 && fits(clx, pos + 1, 4)) {
            const uint32_t lcb = u32(clx, pos + 1);
            if (!fits(clx, pos + 5, lcb))
                return ReadOutcome::damaged(tr("its text table is cut short"));
            plcPcd = clx.sliced(pos + 5, lcb);
            break;
        } else {
            return ReadOutcome::damaged(tr("its text table is damaged"));
        }
    }
    if (plcPcd.size() < 16)
        return ReadOutcome::damaged(tr("its text table is damaged"));
    const qsizetype pieces = (plcPcd.size() - 4) / 12;
    const qsizetype pcdAt = 4 * (pieces + 1);

    // Piece i of the main text: where its characters lie and how wide they are; none when it
    // lies outside the main text.
    struct Piece
    {
        uint32_t cpBegin, count, start;
        bool compressed;
        quint64 bytes() const { return compressed ? quint64(count) : 2 * quint64(count); }
    };
    const auto piece = [&](qsizetype i) -> std::optional<Piece> {
        const uint32_t cpBegin = u32(plcPcd, 4 * i);
        const uint32_t cpEnd = u32(plcPcd, 4 * (i + 1));
        if (cpBegin >= ccpText || cpEnd <= cpBegin)
            return std::nullopt;
        const uint32_t fcRaw = u32(plcPcd, pcdAt + 8 * i + 2);
        const bool compressed = fcRaw & 0x40000000;
        return Piece{cpBegin, std::min(cpEnd, ccpText) - cpBegin,
                     compressed ? (fcRaw & 0x3FFFFFFF) / 2 : (fcRaw & 0x3FFFFFFF), compressed};
    };
    // Before the first character: check every piece, so that a damaged file reports instead of
    // giving half a text. The pieces follow each other in character order and each lies inside
    // the WordDocument stream, on bytes of its own: so the text is never longer than the stream,
    // however many pieces the table holds (pieces may come in any order in the stream, as fast
    // saves leave them).
    std::vector<std::pair<quint64, quint64>> spans; // [begin, end) in the stream
    spans.reserve(size_t(pieces));
    for (qsizetype i = 0; i < pieces; ++i) {
        if (u32(plcPcd, 4 * (i + 1)) < u32(plcPcd, 4 * i))
            return ReadOutcome::damaged(tr("its text table is out of order"));
        const std::optional<Piece> p = piece(i);
        if (!p)
            continue;
        if (!fits(word, p->start, p->bytes()))
            return ReadOutcome::damaged(tr("its text table points past the end of the text"));
        spans.emplace_back(p->start, p->start + p->bytes());
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second)
            return ReadOutcome::damaged(tr("its text table uses the same text twice"));
    }

    const std::vector<Range> excluded = excludedRanges(word, table, fcChpx, lcbChpx, m_keepDeletions);
    // Section table: the character positions where sections end; the last character of each
    // section is its break.
    std::vector<uint32_t> sectionMarks;
    if (lcbSed >= 20 && fits(table, fcSed, lcbSed)) {
        const uint32_t sections = (lcbSed - 4) / 16;
        for (uint32_t i = 1; i <= sections; ++i) {
            const uint32_t cp = u32(table, qsizetype(fcSed) + 4 * i);
            if (cp > 0)
                sectionMarks.push_back(cp - 1);
        }
        std::sort(sectionMarks.begin(), sectionMarks.end());
    }
    DocText text(sink, std::move(sectionMarks));
    for (qsizetype i = 0; i < pieces; ++i) {
        const std::optional<Piece> p = piece(i);
        if (!p)
            continue;
        // Plain names rather than structured bindings: lambdas below use them, which not every
        // compiler accepts for bindings.
        const uint32_t cpBegin = p->cpBegin, count = p->count, start = p->start;
        const bool compressed = p->compressed;
        const uint32_t width = compressed ? 1 : 2;
        const auto *data = reinterpret_cast<const uchar *>(word.data()) + start;
        // Characters k of the piece lie at byte start + width * k; walk the piece in stretches
        // that are wholly shown or wholly excluded.
        auto charIndex = [&](uint32_t byte) -> uint32_t {
            if (byte <= start)
                return 0;
            return std::min<uint32_t>(count, (byte - start + width - 1) / width);
        };
        auto charAt = [&](uint32_t k) -> char16_t {
            return compressed ? windows1252(data[k]) : char16_t(data[2 * k] | (data[2 * k + 1] << 8));
        };
        auto next = std::upper_bound(excluded.begin(), excluded.end(), Range(start, UINT32_MAX));
        if (next != excluded.begin() && std::prev(next)->second > start)
            --next;
        uint32_t k = 0;
        while (k < count) {
            if (next != excluded.end() && charIndex(next->first) <= k) {
                const uint32_t stop = std::max(k + 1, charIndex(next->second));
                for (; k < stop; ++k)
                    text.skip(charAt(k));
                ++next;
                continue;
            }
            const uint32_t stop = next == excluded.end() ? count : charIndex(next->first);
            if (compressed)
                text.putRun<true>(data + k, stop - k, cpBegin + k);
            else
                text.putRun<false>(data + 2 * k, stop - k, cpBegin + k);
            k = stop;
        }
    }
    text.finish();
    return ReadOutcome::success();
}

} // namespace corvalen
