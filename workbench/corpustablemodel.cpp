#include "workbench/corpustablemodel.h"

namespace corvalen {

CorpusTableModel::CorpusTableModel(QObject *parent) : QAbstractTableModel(parent) { }

void CorpusTableModel::setColumns(const QList<CorpusTableColumn> &columns)
{
    beginResetModel();
    m_columns = columns;
    m_table.reset();
    m_order.clear();
    endResetModel();
}

void CorpusTableModel::setTable(std::shared_ptr<const CorpusTable> table)
{
    beginResetModel();
    m_table = std::move(table);
    if (m_table)
        m_columns = m_table->columns();
    m_order.resize(size_t(m_table ? m_table->rowCount() : 0));
    for (size_t r = 0; r < m_order.size(); ++r)
        m_order[r] = qint32(r);
    endResetModel();
}

int CorpusTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_order.size());
}

int CorpusTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QColor CorpusTableModel::toneColour(int tone)
{
    // Keywords: the target's own words in blue, the words it lacks in red.
    return tone < 0 ? QColor(0xb0, 0x10, 0x10) : QColor(0x10, 0x30, 0xa0);
}

QVariant CorpusTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_table || size_t(index.row()) >= m_order.size())
        return {};
    const qint32 row = m_order[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return m_table->shownText(row, index.column());
    case Qt::ToolTipRole:
        return m_columns.at(index.column()).isNumber() ? QVariant() : QVariant(m_table->text(row, index.column()));
    case Qt::TextAlignmentRole:
        return m_columns.at(index.column()).isNumber() ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                       : int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        if (const int tone = m_table->tone(row); tone != 0)
            return toneColour(tone);
        return {};
    }
    return {};
}

QVariant CorpusTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
        return m_columns.at(section).header;
    case Qt::TextAlignmentRole:
        return m_columns.at(section).isNumber() ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                : int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::InitialSortOrderRole:
        // Numbers are wanted largest first; words from A.
        return int(m_columns.at(section).isNumber() ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
    return {};
}

Qt::ItemFlags CorpusTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

void CorpusTableModel::sort(int column, Qt::SortOrder order)
{
    if (!m_table)
        return;
    std::vector<qint32> ordered = m_table->order(column, order == Qt::DescendingOrder);
    // A reset rather than a layout change: a hundred thousand persistent indexes (a selection)
    // are not worth moving one by one.
    beginResetModel();
    m_order = std::move(ordered);
    endResetModel();
}

} // namespace corvalen
