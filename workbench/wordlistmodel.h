#pragma once

#include "workbench/wordlistindex.h"
#include "workbench/wordlistview.h"

#include <QAbstractTableModel>

#include <memory>
#include <vector>

namespace corvalen {

struct WordListDispersion;

/// The word list's table: the rows of one list of the index, in the order and filter given, as
/// a vector of row numbers (no proxy model: a million rows are reordered by swapping vectors).
/// Columns as in the results; counts right-aligned.
class WordListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit WordListModel(QObject *parent = nullptr);

    /// Shows list (of index) with its rows in the order given; resets the view.
    void setRows(std::shared_ptr<const WordListIndex> index, const WordListRows *list,
                 std::vector<qint32> rows);
    /// How a combined count's rows spread over its files: with it, a list with the files column
    /// shows three columns more (per million, Juilland's D, DP) after it. Takes effect with the
    /// next setRows().
    void setDispersion(std::shared_ptr<const WordListDispersion> dispersion) { m_dispersion = std::move(dispersion); }
    const WordListDispersion *dispersion() const { return m_dispersion.get(); }
    std::shared_ptr<const WordListDispersion> sharedDispersion() const { return m_dispersion; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    /// The widest text a column of numbers or file names shows, over every row of the list
    /// (not only those shown, so that a find does not change the widths); empty for the words.
    QString widestText(int column) const;

    /// What a column orders by.
    WordListKey sortKey(int column) const;
    /// Whether a key's column holds numbers (right-aligned, most first when ordered).
    static bool isNumber(WordListKey key);
    int columnOf(WordListKey key) const;
    /// The results' own headers of the file, word, count and files columns.
    QStringList headers() const;
    bool hasFileNameColumn() const { return m_list && m_list->table->hasFileNameColumn(); }
    /// Whether the rows show the number of files of each word (combined mode).
    bool hasFilesColumn() const;
    /// Whether the dispersion's columns are shown.
    bool hasDispersionColumns() const { return m_dispersion && hasFilesColumn(); }

    const WordListRows *list() const { return m_list; }
    const std::vector<qint32> &shownRows() const { return m_rows; }
    /// The table the shown rows are rows of.
    const ResultTable *table() const { return m_list ? m_list->table : nullptr; }
    /// The index the table belongs to (it keeps the table alive).
    std::shared_ptr<const WordListIndex> sharedIndex() const { return m_index; }

private:
    std::shared_ptr<const WordListIndex> m_index;
    const WordListRows *m_list = nullptr;
    std::vector<qint32> m_rows;
    std::shared_ptr<const WordListDispersion> m_dispersion;
};

} // namespace corvalen
