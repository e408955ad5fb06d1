#include "workbench/wordlistmodel.h"

#include "base/figures.h"
#include "windows/resultsmodel.h"
#include "workbench/wordlistdispersion.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace corvalen {

WordListModel::WordListModel(QObject *parent) : QAbstractTableModel(parent) { }

bool WordListModel::isNumber(WordListKey key)
{
    return key != WordListKey::Word && key != WordListKey::File;
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
    if (parent.isValid() || !m_list)
        return 0;
    return m_list->table->columnCount() + (hasFilesColumn() ? 1 : 0) + (hasDispersionColumns() ? 3 : 0);
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
        case WordListKey::PerMillion:
            return fixedFigure(QLocale(), m_dispersion->perMillion[size_t(row)], 3);
        case WordListKey::JuillandD:
        case WordListKey::DP: {
            // Empty with one file: a spread needs parts.
            const double value = (sortKey(index.column()) == WordListKey::DP ? m_dispersion->dp
                                                                             : m_dispersion->juillandD)[size_t(row)];
            return std::isnan(value) ? QString() : fixedFigure(QLocale(), value, 4);
        }
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

QString WordListModel::widestText(int column) const
{
    if (!m_list || column < 0 || column >= columnCount())
        return {};
    const ResultTable &t = *m_list->table;
    const QLocale locale;
    switch (sortKey(column)) {
    case WordListKey::Word:
        return {};
    case WordListKey::File: {
        QString widest;
        for (qsizetype f = 0; f < t.fileCount(); ++f) {
            if (t.fileNameAt(f).size() > widest.size())
                widest = t.fileNameAt(f);
        }
        return widest;
    }
    case WordListKey::Count:
    case WordListKey::Files: {
        const bool files = sortKey(column) == WordListKey::Files;
        qint64 most = 0;
        for (qsizetype r = 0; r < t.rowCount(); ++r)
            most = std::max(most, files ? t.files(r) : t.count(r));
        return locale.toString(most);
    }
    case WordListKey::PerMillion: {
        double most = 0;
        for (const double v : m_dispersion->perMillion)
            most = std::max(most, v);
        return fixedFigure(locale, most, 3);
    }
    case WordListKey::JuillandD:
    case WordListKey::DP:
        return fixedFigure(locale, 1.0, 4); // both lie between 0 and 1
    }
    return {};
}

QVariant WordListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole) {
        // The results' headers; the table names what a phrase count's rows are.
        switch (sortKey(section)) {
        case WordListKey::Word:
            if (m_index && m_index->snapshot().countsPhrases())
                return tr(" Phrase");
            break;
        case WordListKey::PerMillion:
            return tr("Per million");
        case WordListKey::JuillandD:
            return tr("Juilland's D");
        case WordListKey::DP:
            return tr("DP");
        default:
            break;
        }
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
    static constexpr WordListKey keys[] = {WordListKey::Word,       WordListKey::Count,     WordListKey::Files,
                                           WordListKey::PerMillion, WordListKey::JuillandD, WordListKey::DP};
    return keys[std::clamp(column, 0, int(std::size(keys)) - 1)];
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
    case WordListKey::PerMillion:
        return hasDispersionColumns() ? shift + 3 : -1;
    case WordListKey::JuillandD:
        return hasDispersionColumns() ? shift + 4 : -1;
    case WordListKey::DP:
        return hasDispersionColumns() ? shift + 5 : -1;
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
