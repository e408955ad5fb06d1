#pragma once

#include "corpus/corpusscan.h"

#include <QHash>
#include <QStringList>

#include <memory>

namespace corvalen {

// What the readings that tell words apart by a hash of their text share (how the words of a
// count spread over its files, the type/token ratios of parts and windows).

/// A scan of files whose tokens carry the hash of their word (not its number), with finder's
/// rules; single words may be cut at spaces, phrases only at paragraph ends.
CorpusScanOptions hashedWordScan(const QStringList &files, std::shared_ptr<const WordFinder> finder);

/// The hash of a phrase, its words' hashes joined in order.
quint64 combinedHash(quint64 h, quint64 next);

/// Turns the hash of a word as found into the hash of its group of forms (the rules' group key),
/// one per worker: each distinct word is taken again out of its raw text once.
class WordGroupHashes
{
public:
    explicit WordGroupHashes(const WordFinder &finder);
    /// The group's hash of a token of a slice whose text is text.
    quint64 of(const CorpusToken &token, QStringView text);

private:
    std::unique_ptr<WordFinder> m_finder;
    std::unique_ptr<WordFinder> m_cleaner; // the rules that cut and clean, to take a word again
    QHash<quint64, quint64> m_groupOf;
};

} // namespace corvalen
