#pragma once

#include "engine/countedrows.h"
#include "engine/wordrules.h"
#include "engine/wordtally.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <vector>

namespace corvalen {

enum class CountMode { PerFile, Combined };

/// The count options a run works with (taken once when the run starts).
struct CountOptions
{
    CountOptions() = default;
    CountOptions(CountMode m, bool fileName, bool ignore, WordRules wordRules = {})
        : mode(m), withFileName(fileName), ignoreCase(ignore), rules(std::move(wordRules))
    {
    }

    CountMode mode = CountMode::PerFile;
    bool withFileName = true; // per-file mode only
    bool ignoreCase = true;
    WordRules rules; // beyond letter case: Unicode words, punctuation, stop words, ...
    bool fileRange = false; // combined mode only: also count in how many files each word occurs
    /// The rules made ready once, when the options were taken (a stop-word list is read once:
    /// it may be a pipe); null: a run makes them itself.
    std::shared_ptr<const WordFinder> finder;

    bool fileNameColumn() const { return mode == CountMode::PerFile && withFileName; }
};

/// The count options as short phrases for titles and summaries ("one count per file", "letter
/// case ignored", ...), in a fixed order. Every option that changes what is counted has its
/// phrase here, so that whatever shows a run's options names them all.
QStringList describeCountOptions(const CountOptions &options);

struct ResultColumn
{
    QString header;
    int widthTwips = 0;
};

/// Length of a count's decimal text (no leading zeros), in characters.
qsizetype decimalLength(qint64 n);

/// The results list's columns for the given options: " Word" and "Count", with "Filename" first
/// in per-file mode with file names.
QList<ResultColumn> resultColumns(const CountOptions &options);
QStringList resultHeaders(const CountOptions &options);

/// Rows of a results list: one per distinct word (per file and word in per-file mode), in the
/// order added. Stores words and counts, not cell texts, so that a million rows stay small: the
/// words side by side in large blocks rather than one string each; cells are rendered on demand.
/// Each appendRows() is one file of the table, also without a file name column and when it has
/// no rows, so that a per-file table can still be told apart file by file.
class ResultTable
{
public:
    explicit ResultTable(bool fileNameColumn = false);

    bool hasFileNameColumn() const { return m_fileNameColumn; }
    int columnCount() const { return m_fileNameColumn ? 3 : 2; }
    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }

    /// Text of a cell: file name, word or count (decimal, no leading zeros).
    QString cell(qsizetype row, int column) const;
    /// Length of a cell in UTF-16 code units, without building its text.
    qsizetype cellLength(qsizetype row, int column) const;

    /// The word of a row; valid until the table changes.
    QStringView wordView(qsizetype row) const
    {
        const Row &r = m_rows[size_t(row)];
        return QStringView(m_words.at(r.block)).mid(r.offset, r.length);
    }
    QString word(qsizetype row) const { return wordView(row).toString(); }
    qint64 count(qsizetype row) const { return m_rows[size_t(row)].count; }
    /// The forms a row stands for when words were grouped by their stems, most frequent first;
    /// null otherwise.
    std::shared_ptr<const std::vector<WordCount>> forms(qsizetype row) const
    {
        return size_t(row) < m_forms.size() ? m_forms[size_t(row)] : nullptr;
    }
    /// Whether any row stands for a group of forms.
    bool hasForms() const { return m_withForms; }
    /// Whether the rows carry the number of files their word occurs in (a combined count with
    /// the range). It is no column: the results list shows none.
    bool hasFiles() const { return !m_files.empty(); }
    /// The number of files a row's word occurs in; 0 without them.
    qint64 files(qsizetype row) const { return m_files.empty() ? 0 : m_files[size_t(row)]; }
    QString fileName(qsizetype row) const;

    /// The files (blocks of appendRows()) of the table, in the order appended.
    qsizetype fileCount() const { return m_fileNames.size(); }
    /// The file a row belongs to, 0 to fileCount() - 1.
    qint32 fileIndex(qsizetype row) const { return m_rows[size_t(row)].file; }
    /// The name a file was appended with (empty without a file name column).
    QString fileNameAt(qsizetype file) const { return m_fileNames.at(file); }

    /// Appends one file's (or the combined) ordered rows. fileName is shown only with a file name
    /// column.
    void appendRows(const std::vector<WordCount> &rows, const QString &fileName = QString());
    void appendCountedRows(const CountedRows &rows, const QString &fileName = QString());
    /// Appends every row of another table with the same columns.
    void appendTable(const ResultTable &other);
    void clear();

    /// Sum of the counts of all rows.
    qint64 total() const { return m_total; }

private:
    struct Row
    {
        qint64 count = 0;
        qint32 block = 0; // where the word is in m_words
        qint32 offset = 0;
        qint32 length = 0;
        qint32 file = 0; // index in m_fileNames
    };

    // whole: a string that may hold the word, to share rather than copy an enormous one.
    Row storeWord(QStringView word, const QString *whole = nullptr);
    // A row as it arrives: whole and forms may be null.
    struct Arriving
    {
        QStringView word;
        const QString *whole;
        qint64 count;
        qint64 files;
        const std::shared_ptr<const std::vector<WordCount>> *forms;
    };
    // Appends one file of n rows, rowAt(i, scratch) giving each (the word may be in scratch).
    template<typename RowAt>
    void appendFile(size_t n, const QString &fileName, bool withFiles, const RowAt &rowAt);

    bool m_fileNameColumn;
    std::vector<Row> m_rows;
    QList<QString> m_words; // blocks filled up to their capacity, never moved once written
    // One per row once any row has forms (a count grouped by stems), else empty.
    std::vector<std::shared_ptr<const std::vector<WordCount>>> m_forms;
    bool m_withForms = false;
    QStringList m_fileNames; // one per appendRows()
    std::vector<qint64> m_files; // by row, once any row came with its files; else empty
    qint64 m_total = 0;
};

} // namespace corvalen

Q_DECLARE_METATYPE(corvalen::ResultTable)
