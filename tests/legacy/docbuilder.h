#pragma once

// Builds small Word 97-2003 files for the tests: a compound file with a FIB, a piece table and,
// when asked, character properties that hide runs. Offsets of the interesting structures are
// returned so that hostile variants can be made by patching bytes.

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>
#include <vector>

namespace corvalen::test {

struct CompoundLayout
{
    QByteArray bytes;
    qsizetype fatOffset = 0;       ///< file offset of the first FAT sector
    qsizetype directoryOffset = 0; ///< file offset of the directory sector
    std::vector<uint32_t> streamStart; ///< first sector of each stream, in the order given
};

/// A version 3 compound file (512-byte sectors) holding these root streams. Streams are padded
/// to 4096 bytes so that none lives in the mini stream.
CompoundLayout buildCompoundFile(const std::vector<std::pair<QString, QByteArray>> &streams);

struct DocPiece
{
    QString text;
    bool compressed = true; ///< stored as 8-bit Windows-1252 (else UTF-16)
};

struct DocSpec
{
    std::vector<DocPiece> pieces;  ///< in piece-table order; stored in the reverse order in the file
    int ccpText = -1;              ///< main-text length; -1: the whole text
    QList<std::pair<int, int>> hiddenChars; ///< [from, to) character ranges marked hidden
    QList<int> sectionEnds;        ///< character positions where sections end (section table)
    int repeat = 1;                ///< the piece table lists the pieces this often, each time on the same bytes
    uint16_t nFib = 0xC1;
    bool encrypted = false;
};

struct DocLayout
{
    CompoundLayout file;
    qsizetype pieceTableOffset = 0; ///< offset of the PlcPcd inside the table stream
};

/// The WordDocument stream's FIB and text, and the 1Table stream, in a compound file.
DocLayout buildDoc(const DocSpec &doc);

/// Convenience: one 8-bit piece.
QByteArray simpleDoc(const QString &text);

} // namespace corvalen::test
