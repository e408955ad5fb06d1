#include "windows/filelistmodel.h"

#include <algorithm>

namespace corvalen {

FileListModel::FileListModel(QObject *parent) : QAbstractTableModel(parent) { }

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_paths.size());
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_paths.size() || index.column() != 0)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_paths.at(index.row());
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return tr(" Word Files");
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

void FileListModel::append(const QString &path)
{
    append(QStringList{path});
}

void FileListModel::append(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    const int first = int(m_paths.size());
    beginInsertRows({}, first, first + int(paths.size()) - 1);
    m_paths += paths;
    endInsertRows();
}

void FileListModel::removeAt(int row)
{
    if (row < 0 || row >= m_paths.size())
        return;
    beginRemoveRows({}, row, row);
    m_paths.removeAt(row);
    endRemoveRows();
}

void FileListModel::removeRowsAt(QList<int> rows)
{
    // Highest first, in runs of adjacent rows, so that the rows still to be removed keep their
    // positions and a large selection goes in a few steps.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    qsizetype i = 0;
    while (i < rows.size()) {
        const int last = rows.at(i);
        int first = last;
        ++i;
        while (i < rows.size() && rows.at(i) == first - 1)
            first = rows.at(i++);
        if (first < 0 || last >= m_paths.size())
            continue;
        beginRemoveRows({}, first, last);
        m_paths.remove(first, last - first + 1);
        endRemoveRows();
    }
}

void FileListModel::clear()
{
    if (m_paths.isEmpty())
        return;
    beginResetModel();
    m_paths.clear();
    endResetModel();
}

} // namespace corvalen
