#pragma once

#include "engine/resulttable.h"

#include <QAbstractTableModel>
#include <QLocale>

namespace corvalen {

/// The results list: columns set by the count options, rows appended by the analysis run in the
/// order added, never sorted. Cells are rendered from the table on demand, so a million rows
/// cost no more than their words and counts.
class ResultsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ResultsModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    const QList<ResultColumn> &columns() const { return m_columns; }
    QStringList headers() const;
    const ResultTable &table() const { return m_table; }
    /// The tooltip of a row that stands for a group of word forms: each form with its count,
    /// most frequent first, the counts written as numbers writes them; empty for other rows.
    static QString formsToolTip(const ResultTable &table, qsizetype row, const QLocale &numbers = QLocale::c());

    /// Replaces the columns (and empties the rows, whose layout follows the columns).
    void setColumns(const QList<ResultColumn> &columns);
    /// Removes every row; the columns stay.
    void clearRows();
    /// Appends every row of table in one step. Its columns must match; a table with other
    /// columns is refused (false) rather than shown under the wrong headers.
    bool appendTable(const ResultTable &table);
    /// Appends one file's (or the combined) ordered rows in one step.
    void appendRows(const std::vector<WordCount> &rows, const QString &fileName = QString());

private:
    QList<ResultColumn> m_columns;
    ResultTable m_table;
};

} // namespace corvalen
