#pragma once

#include "workbench/corpustable.h"

#include <QAbstractTableModel>
#include <QColor>

#include <memory>
#include <vector>

namespace corvalen {

/// A corpus tool's table as a view shows it: the rows of a CorpusTable in the tool's order or
/// ordered by any column (a vector of row numbers, no proxy model: a hundred thousand rows are
/// ordered by numbers alone). Numbers right-aligned as the user's language writes them; a row of
/// negative tone (a negative keyword) in its own colour.
class CorpusTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit CorpusTableModel(QObject *parent = nullptr);

    /// Shows a table in its own order (none: no rows); resets the view.
    void setTable(std::shared_ptr<const CorpusTable> table);
    const std::shared_ptr<const CorpusTable> &table() const { return m_table; }
    /// Headers without rows, while there is no table.
    void setColumns(const QList<CorpusTableColumn> &columns);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    /// Orders by a column (ties in the tool's order); -1: the tool's order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// The table's row shown at a place.
    qint32 rowAt(int shownRow) const { return m_order[size_t(shownRow)]; }
    const std::vector<qint32> &shownRows() const { return m_order; }

    /// The colours rows are told apart by.
    static QColor toneColour(int tone);

private:
    QList<CorpusTableColumn> m_columns;
    std::shared_ptr<const CorpusTable> m_table;
    std::vector<qint32> m_order;
};

} // namespace corvalen
