#include "engine/resulttable.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace corvalen {

namespace {

constexpr qsizetype kFirstBlock = 1 << 10, kLargestBlock = 1 << 20;

// Room for n more rows. Reserving exactly what one more file needs would reallocate, and move
// every row so far, at each file of a per-file run: quadratic in the number of files.
template<typename Rows>
void reserveMore(Rows &rows, size_t n)
{
    const size_t needed = rows.size() + n;
    if (needed > rows.capacity())
        rows.reserve(std::max(needed, rows.capacity() * 2));
}

} // namespace

qsizetype decimalLength(qint64 n)
{
    qsizetype len = n < 0 ? 2 : 1;
    for (quint64 v = n < 0 ? quint64(-(n + 1)) + 1 : quint64(n); v >= 10; v /= 10)
        ++len;
    return len;
}

QList<ResultColumn> resultColumns(const CountOptions &options)
{
    if (options.fileNameColumn()) {
        return {{QStringLiteral("Filename"), 5000},
                {QStringLiteral(" Word"), 2000},
                {QStringLiteral("Count"), 1000}};
    }
    return {{QStringLiteral(" Word"), 6000}, {QStringLiteral("Count"), 1000}};
}

QStringList describeCountOptions(const CountOptions &options)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("corvalen::CountOptions", text); };
    QStringList phrases;
    if (options.mode == CountMode::Combined)
        phrases << tr("one count for all files");
    else
        phrases << (options.withFileName ? tr("one count per file, with file names")
                                         : tr("one count per file, without file names"));
    phrases << (options.ignoreCase ? tr("letter case ignored") : tr("letter case kept"));
    const WordRules &rules = options.rules;
    if (rules.words == WordRules::Words::Unicode)
        phrases << tr("Unicode words");
    if (rules.words == WordRules::Words::Corpus)
        phrases << (rules.hyphens == WordRules::Hyphens::Split ? tr("corpus words, split at hyphens")
                                                               : tr("corpus words"));
    if (rules.paragraphs == WordRules::Paragraphs::BlankLines)
        phrases << tr("paragraphs end at blank lines");
    if (rules.punctuation == WordRules::Punctuation::All)
        phrases << tr("all punctuation deleted");
    if (!rules.stopWordLists.isEmpty()) {
        QStringList lists;
        for (const QString &list : rules.stopWordLists)
            lists << fileNameFromPath(QDir::toNativeSeparators(list));
        phrases << tr("stop words: %1").arg(lists.join(u", "));
    }
    if (rules.minLength > 1)
        phrases << tr("words of %1 or more characters").arg(rules.minLength);
    if (!rules.stemLanguage.isEmpty())
        phrases << tr("word forms grouped (%1)").arg(rules.stemLanguage);
    if (!rules.lemmaLists.isEmpty()) {
        QStringList lists;
        for (const QString &list : rules.lemmaLists)
            lists << fileNameFromPath(QDir::toNativeSeparators(list));
        phrases << tr("lemmas: %1").arg(lists.join(u", "));
    }
    if (rules.phraseLength > 1)
        phrases << tr("phrases of %1 words").arg(rules.phraseLength);
    return phrases;
}

QStringList resultHeaders(const CountOptions &options)
{
    QStringList headers;
    for (const ResultColumn &c : resultColumns(options))
        headers << c.header;
    return headers;
}

ResultTable::ResultTable(bool fileNameColumn) : m_fileNameColumn(fileNameColumn) { }

ResultTable::Row ResultTable::storeWord(QStringView word, const QString *whole)
{
    // Small tables take small blocks; a word longer than a block gets one of its own.
    if (word.size() > std::numeric_limits<qint32>::max())
        throw std::length_error("A word is too long for the results list.");
    Row r;
    r.offset = 0;
    r.length = qint32(word.size());
    if (word.size() > kLargestBlock) {
        // Shared with the string it comes from, when there is one: an enormous word is not
        // held twice.
        const QString block = whole && whole->size() == word.size() ? *whole : word.toString();
        m_words.append(block);
        r.block = qint32(m_words.size() - 1);
        return r;
    }
    // A block shared with another table or string is never written to: that would copy it.
    if (m_words.isEmpty() || !m_words.isDetached() || !m_words.constLast().isDetached()
        || m_words.constLast().capacity() - m_words.constLast().size() < word.size()) {
        QString block;
        const qsizetype grown = kFirstBlock << std::min<qsizetype>(m_words.size(), 10);
        block.reserve(std::max(word.size(), std::min(grown, kLargestBlock)));
        m_words.append(block);
    }
    QString &block = m_words.last();
    r.block = qint32(m_words.size() - 1);
    r.offset = qint32(block.size());
    block.append(word);
    return r;
}

QString ResultTable::cell(qsizetype row, int column) const
{
    const Row &r = m_rows[size_t(row)];
    if (m_fileNameColumn) {
        if (column == 0)
            return m_fileNames.at(r.file);
        --column;
    }
    if (column == 0)
        return wordView(row).toString();
    if (column == 1)
        return QString::number(r.count);
    return QString();
}

qsizetype ResultTable::cellLength(qsizetype row, int column) const
{
    const Row &r = m_rows[size_t(row)];
    if (m_fileNameColumn) {
        if (column == 0)
            return m_fileNames.at(r.file).size();
        --column;
    }
    if (column == 0)
        return r.length;
    if (column == 1)
        return decimalLength(r.count);
    return 0;
}

QString ResultTable::fileName(qsizetype row) const
{
    return m_fileNames.at(m_rows[size_t(row)].file);
}

template<typename RowAt>
void ResultTable::appendFile(size_t n, const QString &fileName, bool withFiles, const RowAt &rowAt)
{
    if (m_fileNames.size() >= std::numeric_limits<qint32>::max())
        throw std::length_error("Too many files for the results list.");
    m_fileNames.append(m_fileNameColumn ? fileName : QString());
    const qint32 file = qint32(m_fileNames.size() - 1);
    reserveMore(m_rows, n);
    withFiles = withFiles || hasFiles();
    if (withFiles) {
        m_files.resize(m_rows.size());
        reserveMore(m_files, n);
    }
    QString scratch;
    for (size_t i = 0; i < n; ++i) {
        const Arriving row = rowAt(i, scratch);
        Row r = storeWord(row.word, row.whole);
        r.count = row.count;
        r.file = file;
        if (row.forms && *row.forms && !m_withForms) {
            m_forms.resize(m_rows.size());
            m_withForms = true;
        }
        m_rows.push_back(r);
        if (m_withForms)
            m_forms.push_back(row.forms ? *row.forms : nullptr);
        if (withFiles)
            m_files.push_back(row.files);
        m_total += row.count;
    }
}

void ResultTable::appendRows(const std::vector<WordCount> &rows, const QString &fileName)
{
    const bool withFiles = std::any_of(rows.begin(), rows.end(), [](const WordCount &wc) { return wc.files != 0; });
    appendFile(rows.size(), fileName, withFiles, [&](size_t i, QString &) {
        const WordCount &wc = rows[i];
        return Arriving{wc.word, &wc.word, wc.count, wc.files, &wc.forms};
    });
}

void ResultTable::appendCountedRows(const CountedRows &rows, const QString &fileName)
{
    if (rows.holdsWords()) {
        appendRows(rows.heldRows(), fileName);
        return;
    }
    // Phrases are spelled one at a time straight into the word blocks.
    bool withFiles = false;
    for (size_t i = 0; i < rows.size() && !withFiles; ++i)
        withFiles = rows.files(i) != 0;
    appendFile(rows.size(), fileName, withFiles, [&](size_t i, QString &scratch) {
        return Arriving{rows.word(i, scratch), nullptr, rows.count(i), rows.files(i), nullptr};
    });
}

void ResultTable::appendTable(const ResultTable &other)
{
    reserveMore(m_rows, other.m_rows.size());
    const qint32 fileOffset = qint32(m_fileNames.size());
    const QStringList theirNames = other.m_fileNames; // other may be this table
    m_fileNames += theirNames;
    const qsizetype n = other.rowCount(); // other may be this table
    if (other.hasForms() && !m_withForms) {
        m_forms.resize(m_rows.size());
        m_withForms = true;
    }
    if (m_withForms) {
        m_forms.reserve(m_forms.size() + size_t(n));
        for (qsizetype i = 0; i < n; ++i)
            m_forms.push_back(other.forms(i));
    }
    const bool withFiles = hasFiles() || other.hasFiles();
    if (withFiles)
        m_files.resize(m_rows.size());
    for (qsizetype i = 0; i < n; ++i) {
        const Row &theirs = other.m_rows[size_t(i)];
        Row r = storeWord(other.wordView(i), &other.m_words.at(theirs.block));
        r.count = theirs.count;
        r.file = theirs.file + fileOffset;
        if (withFiles)
            m_files.push_back(other.files(i));
        m_rows.push_back(r);
    }
    m_total += other.m_total;
}

void ResultTable::clear()
{
    m_rows.clear();
    m_forms.clear();
    m_withForms = false;
    m_words.clear();
    m_fileNames.clear();
    m_files.clear();
    m_total = 0;
}

} // namespace corvalen
