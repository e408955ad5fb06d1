#include "corpus/wordhashes.h"

#include "engine/hashtally.h"

#include <algorithm>

namespace corvalen {

CorpusScanOptions hashedWordScan(const QStringList &files, std::shared_ptr<const WordFinder> finder)
{
    CorpusScanOptions options;
    options.files = files;
    options.cutAtSpaces = std::max(1, finder->rules().phraseLength) == 1;
    options.finder = std::move(finder);
    options.margin = 1;
    options.numberWords = false;
    options.hashWords = true;
    return options;
}

quint64 combinedHash(quint64 h, quint64 next)
{
    return counting::mix(h * 0x9E3779B97F4A7C15ULL ^ next);
}

WordGroupHashes::WordGroupHashes(const WordFinder &finder) : m_finder(finder.clone())
{
    WordRules bare = finder.rules();
    bare.stopWordLists.clear();
    bare.minLength = 1;
    bare.stemLanguage.clear();
    bare.lemmaLists.clear();
    bare.phraseLength = 1;
    m_cleaner = WordFinder::create(bare, finder.ignoresCase());
}

quint64 WordGroupHashes::of(const CorpusToken &token, QStringView text)
{
    const auto known = m_groupOf.constFind(token.hash);
    if (known != m_groupOf.cend())
        return *known;
    QString word;
    m_cleaner->findWords(text.sliced(token.start, token.end - token.start),
                         [&word](const FoundWord &f) { word += f.word; });
    const quint64 group = wordHash(m_finder->groupKey(word));
    m_groupOf.insert(token.hash, group);
    return group;
}

} // namespace corvalen
