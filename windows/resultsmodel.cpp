#include "windows/resultsmodel.h"

namespace corvalen {

ResultsModel::ResultsModel(QObject *parent) : QAbstractTableModel(parent) { }

int ResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_table.rowCount());
}

int ResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant ResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_table.rowCount() || index.column() >= m_table.columnCount())
        return {};
    if (role == Qt::ToolTipRole) {
        const QString tip = formsToolTip(m_table, index.row());
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    if (role != Qt::DisplayRole)
        return {};
    return m_table.cell(index.row(), index.column());
}

QString ResultsModel::formsToolTip(const ResultTable &table, qsizetype row, const QLocale &numbers)
{
    const auto forms = table.forms(row);
    if (!forms)
        return QString();
    // A group can have hundreds of forms: the tooltip names the most frequent.
    constexpr size_t kShown = 20;
    QStringList lines;
    for (size_t i = 0; i < std::min(forms->size(), kShown); ++i)
        lines << tr("%1: %2").arg((*forms)[i].word, numbers.toString((*forms)[i].count));
    if (forms->size() > kShown)
        lines << tr("... and %n more form(s)", nullptr, int(forms->size() - kShown));
    return lines.join(u'\n');
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= m_columns.size())
        return {};
    return m_columns.at(section).header;
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QStringList ResultsModel::headers() const
{
    QStringList list;
    for (const ResultColumn &c : m_columns)
        list << c.header;
    return list;
}

void ResultsModel::setColumns(const QList<ResultColumn> &columns)
{
    beginResetModel();
    m_columns = columns;
    // Three columns means the file name comes first.
    m_table = ResultTable(columns.size() == 3);
    endResetModel();
}

void ResultsModel::clearRows()
{
    if (m_table.isEmpty())
        return;
    beginResetModel();
    m_table.clear();
    endResetModel();
}

bool ResultsModel::appendTable(const ResultTable &table)
{
    if (table.columnCount() != m_table.columnCount() || table.columnCount() != m_columns.size())
        return false;
    if (table.isEmpty())
        return true;
    const int first = int(m_table.rowCount());
    beginInsertRows({}, first, first + int(table.rowCount()) - 1);
    m_table.appendTable(table);
    endInsertRows();
    return true;
}

void ResultsModel::appendRows(const std::vector<WordCount> &rows, const QString &fileName)
{
    if (rows.empty())
        return;
    const int first = int(m_table.rowCount());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    m_table.appendRows(rows, fileName);
    endInsertRows();
}

} // namespace corvalen
