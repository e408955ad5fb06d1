#include "workbench/wordlistmodel.h"

#include "windows/resultsmodel.h"

#include <QLocale>

namespace corvalen {

WordListModel::WordListModel(QObject *parent) : QAbstractTableModel(parent) { }

bool WordListModel::isNumber(WordListKey key)
{
    return key == WordListKey::Count || key == WordListKey::Files;
}

void WordListModel::setRows(std::shared_ptr<const WordListIndex> index, const WordListRows *list,
                            std::vector<qint32> rows)
{
    beginResetModel();
    m_index = std::move(index);
    m_list = list;
    m_rows = std::move(rows);
    endResetModel();
}

int WordListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int WordListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_list ? 0 : m_list->table->columnCount() + (hasFilesColumn() ? 1 : 0);
}

bool WordListModel::hasFilesColumn() const
{
    if (!m_list || !m_index)
        return false;
    // Rows put in without a run carry no files, whatever the last run's options were.
    const CountOptions &options = m_index->snapshot().options;
    const ResultTable &table = *m_list->table;
    return options.mode == CountMode::Combined && options.fileRange
            && (table.hasFiles() || table.isEmpty());
}

QVariant WordListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_rows.size() || !m_list)
        return {};
    if (role == Qt::DisplayRole) {
        const qint32 row = m_rows[size_t(index.row())];
        switch (sortKey(index.column())) {
        case WordListKey::Files:
            return QLocale().toString(m_list->table->files(row));
        case WordListKey::Count:
            return QLocale().toString(m_list->table->count(row));
        default:
            return m_list->table->cell(row, index.column());
        }
    }
    if (role == Qt::ToolTipRole) {
        const QString tip = ResultsModel::formsToolTip(*m_list->table, m_rows[size_t(index.row())], QLocale());
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    if (role == Qt::TextAlignmentRole && isNumber(sortKey(index.column())))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant WordListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole) {
        // Exports keep the results' headers; the table names what a phrase count's rows are.
        if (sortKey(section) == WordListKey::Word && m_index && m_index->snapshot().countsPhrases())
            return tr(" Phrase");
        return headers().value(section);
    }
    // Counts are wanted most frequent first; texts from A.
    if (role == Qt::InitialSortOrderRole)
        return int(isNumber(sortKey(section)) ? Qt::DescendingOrder : Qt::AscendingOrder);
    if (role == Qt::TextAlignmentRole && isNumber(sortKey(section)))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags WordListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

WordListKey WordListModel::sortKey(int column) const
{
    if (hasFileNameColumn()) {
        if (column == 0)
            return WordListKey::File;
        --column;
    }
    return column == 0 ? WordListKey::Word : column == 1 ? WordListKey::Count : WordListKey::Files;
}

int WordListModel::columnOf(WordListKey key) const
{
    const int shift = hasFileNameColumn() ? 1 : 0;
    switch (key) {
    case WordListKey::File:
        return shift ? 0 : -1;
    case WordListKey::Word:
        return shift;
    case WordListKey::Count:
        return shift + 1;
    case WordListKey::Files:
        return hasFilesColumn() ? shift + 2 : -1;
    }
    return -1;
}

QStringList WordListModel::headers() const
{
    if (!m_list)
        return {};
    CountOptions shape;
    shape.mode = hasFileNameColumn() ? CountMode::PerFile : CountMode::Combined;
    QStringList headers = resultHeaders(shape);
    if (hasFilesColumn())
        headers << tr("Files");
    return headers;
}

} // namespace corvalen
