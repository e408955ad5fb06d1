#pragma once

#include <QAbstractTableModel>
#include <QStringList>

namespace corvalen {

/// The file list: the paths the next run reads, in the order added, duplicates allowed, one
/// column headed " Word Files". Never sorted and never saved.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit FileListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    const QStringList &paths() const { return m_paths; }
    QString path(int row) const { return m_paths.value(row); }

    void append(const QString &path);
    /// Appends many paths with one model notification, so that a scan of a large tree lands at
    /// once.
    void append(const QStringList &paths);
    /// Removes the entry at row; out of range does nothing.
    void removeAt(int row);
    /// Removes the given rows (any order, duplicates allowed); the rest keep their order.
    void removeRowsAt(QList<int> rows);
    void clear();

private:
    QStringList m_paths;
};

} // namespace corvalen
