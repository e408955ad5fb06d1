#include "workbench/concordancemodel.h"

#include "engine/backgroundtask.h"
#include "workbench/workbench.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QLocale>
#include <QPainter>
#include <QTextLayout>

namespace corvalen {

namespace {

// The levels that decide anything: text order ends an order, whatever follows it.
QList<SortKey> effectiveKeys(const QList<SortKey> &keys)
{
    QList<SortKey> effective;
    for (const SortKey key : keys) {
        if (key == SortKey::Position)
            break;
        effective.append(key);
    }
    return effective;
}

bool isNeighbour(SortKey key)
{
    return key != SortKey::Hit && key != SortKey::File && key != SortKey::Position;
}

} // namespace

ConcordanceModel::ConcordanceModel(Workbench &workbench, QObject *parent)
    : QAbstractTableModel(parent),
      m_workbench(workbench),
      m_finder(workbench.finder()->clone()),
      m_alive(std::make_shared<int>(0))
{
    connect(&m_workbench, &Workbench::linesAboutToBeCleared, this, &ConcordanceModel::clearLines);
    connect(&m_workbench, &Workbench::linesAdded, this, &ConcordanceModel::linesAdded);
    connect(&m_workbench, &Workbench::searchFinished, this, &ConcordanceModel::searchEnded);
    connect(&m_workbench, &Workbench::searchStarted, this, &ConcordanceModel::takeCompanion);
    m_rows = m_workbench.lineCount();
}

ConcordanceModel::~ConcordanceModel() = default;

int ConcordanceModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows);
}

int ConcordanceModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

qsizetype ConcordanceModel::lineOf(int row) const
{
    return m_order.empty() ? row : m_order[size_t(row)];
}

int ConcordanceModel::rowOf(qsizetype line) const
{
    if (line < 0 || line >= m_rows)
        return -1;
    if (m_order.empty())
        return int(line);
    auto &inverse = const_cast<std::vector<qint32> &>(m_rowOfLine);
    if (inverse.size() != m_order.size()) {
        inverse.assign(m_order.size(), -1);
        for (size_t r = 0; r < m_order.size(); ++r)
            inverse[size_t(m_order[r])] = qint32(r);
    }
    return inverse[size_t(line)];
}

QVariant ConcordanceModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    const ConcordanceLine &line = m_workbench.line(lineOf(index.row()));
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NumberColumn:
            return QLocale().toString(index.row() + 1);
        case FileColumn:
            return m_workbench.fileLabels().value(line.file);
        case LeftColumn:
            return line.left().toString();
        case HitColumn:
            return line.hit().toString();
        case RightColumn:
            return line.right().toString();
        }
        return {};
    case Qt::ToolTipRole:
        if (line.failed)
            return line.text.toString();
        return index.column() == FileColumn ? QVariant(m_workbench.files().value(line.file)) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == NumberColumn || index.column() == LeftColumn
                ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case SpansRole:
        return QVariant::fromValue(spans(index.row(), index.column()));
    case LineRole:
        return QVariant::fromValue(lineOf(index.row()));
    }
    return {};
}

QVariant ConcordanceModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NumberColumn:
    case HitColumn:
        return tr("Hit");
    case FileColumn:
        return tr("File");
    case LeftColumn:
        return tr("Left");
    case RightColumn:
        return tr("Right");
    }
    return {};
}

QColor ConcordanceModel::levelColour(int level)
{
    // As concordancers colour their sort levels: red, green, blue.
    // A collocate in a fourth colour of its own.
    static const QColor colours[] = {QColor(0xd0, 0x10, 0x10), QColor(0x00, 0x88, 0x00), QColor(0x10, 0x30, 0xe0),
                                     QColor(0x8e, 0x24, 0xaa)};
    return colours[std::clamp(level, 0, kCompanionLevel)];
}

QList<ColouredSpan> ConcordanceModel::spans(int row, int column) const
{
    if (row < 0 || row >= m_rows || column < 0 || column >= ColumnCount)
        return {};
    if (m_spansRow != row) {
        m_spansRow = row;
        for (QList<ColouredSpan> &s : m_spans)
            s.clear();
        const ConcordanceLine &line = m_workbench.line(lineOf(row));
        const QList<SortKey> keys = effectiveKeys(m_shownKeys);
        for (int level = 0; level < keys.size() && !line.failed; ++level) {
            const SortKey key = keys.at(level);
            if (key == SortKey::Hit) {
                m_spans[HitColumn].append({0, line.hitLength, level});
            } else if (key == SortKey::File) {
                m_spans[FileColumn].append({0, m_workbench.fileLabels().value(line.file).size(), level});
            } else if (isNeighbour(key)) {
                const int distance = int(key) - int(SortKey::Hit);
                const TextSpan span = neighbourSpan(line, distance, *m_finder);
                if (span.start < 0)
                    continue; // beyond the context shown, or at the file's edge
                if (distance < 0)
                    m_spans[LeftColumn].append({span.start, span.length, level});
                else
                    m_spans[RightColumn].append({span.start - line.leftLength - line.hitLength, span.length, level});
            }
        }
        if (m_companionMatcher && !line.failed)
            addCompanionSpans(line);
    }
    return m_spans[size_t(column)];
}

void ConcordanceModel::takeCompanion()
{
    m_companionMatcher.reset();
    m_companion.reset();
    const WorkbenchQuery &query = m_workbench.query();
    if (query.companion.isEmpty())
        return;
    m_companion = CorpusQuery::parse(query.companion, QueryMode::Words, true, *m_finder);
    if (!m_companion)
        return;
    m_companionMatcher = std::make_unique<QueryMatcher>(*m_companion, *m_finder);
    m_companionLeft = query.companionLeft;
    m_companionRight = query.companionRight;
}

void ConcordanceModel::addCompanionSpans(const ConcordanceLine &line) const
{
    struct Words : WordSink
    {
        struct Word
        {
            QString text;
            qsizetype start;
            qsizetype end;
        };
        std::vector<Word> found;
        void word(QStringView word, qsizetype start, qsizetype end) override { found.push_back({word.toString(), start, end}); }
    };
    // The counted words nearest the hit, as many as the span takes on each side.
    Words left;
    m_finder->findSingleWords(line.left(), left);
    // The farthest word of a left context may be cut by its edge (unless the file begins there).
    const bool cut = line.hitStart > line.leftLength;
    for (size_t k = 0; k < left.found.size() && k < size_t(m_companionLeft); ++k) {
        const Words::Word &w = left.found[left.found.size() - 1 - k];
        if (w.start == 0 && cut)
            break;
        if (m_companionMatcher->matches(0, w.text))
            m_spans[LeftColumn].append({w.start, w.end - w.start, kCompanionLevel});
    }
    Words right;
    m_finder->findSingleWords(line.right(), right);
    // Likewise its last one, when the context is as wide as it may be (the file goes on).
    const bool rightCut = line.right().size() >= m_workbench.query().width;
    for (size_t k = 0; k < right.found.size() && k < size_t(m_companionRight); ++k) {
        const Words::Word &w = right.found[k];
        if (rightCut && w.end == line.right().size())
            break;
        if (m_companionMatcher->matches(0, w.text))
            m_spans[RightColumn].append({w.start, w.end - w.start, kCompanionLevel});
    }
}

void ConcordanceModel::clearLines()
{
    beginResetModel();
    m_rows = 0;
    m_order = {};
    m_rowOfLine = {};
    m_spansRow = -1;
    m_shownKeys.clear();
    // A thread ordering the lines that go finds its result unwanted.
    m_alive = std::make_shared<int>(0);
    m_ordering = false;
    m_orderAgain = false;
    endResetModel();
}

void ConcordanceModel::linesAdded(qsizetype from, qsizetype to)
{
    // While a search runs the lines stay in text order: they come in it.
    if (!m_order.empty() || to <= from)
        return;
    beginInsertRows({}, int(from), int(to) - 1);
    m_rows = to;
    endInsertRows();
}

void ConcordanceModel::searchEnded()
{
    if (!effectiveKeys(m_keys).isEmpty() || !m_shownKeys.isEmpty())
        order();
}

void ConcordanceModel::setSortKeys(const QList<SortKey> &keys)
{
    m_keys = keys;
    order();
}

void ConcordanceModel::order()
{
    const QList<SortKey> keys = effectiveKeys(m_keys);
    if (keys.isEmpty()) {
        if (m_ordering) {
            m_orderAgain = true; // the thread's order would come after this one
            return;
        }
        beginResetModel();
        m_order = {};
        m_rowOfLine = {};
        m_spansRow = -1;
        m_shownKeys = m_keys;
        endResetModel();
        emit orderShown();
        return;
    }
    if (m_workbench.isSearching())
        return; // ordered when the search ends; the lines keep coming in text order meanwhile
    if (m_ordering) {
        // One thread at a time reads the lines by their places.
        m_orderAgain = true;
        return;
    }
    if (m_fileRanks.empty())
        m_fileRanks = WordRanks::ofNames(m_workbench.fileLabels());
    m_ordering = true;
    emit orderingStarted();
    using Result = std::vector<qint32>;
    auto *watcher = new QFutureWatcher<Result>(this);
    const std::weak_ptr<int> alive = m_alive;
    connect(watcher, &QFutureWatcher<Result>::finished, this, [this, watcher, alive, keys] {
        watcher->deleteLater();
        if (alive.expired())
            return; // other lines since
        m_ordering = false;
        if (m_orderAgain || effectiveKeys(m_keys) != keys) {
            m_orderAgain = false;
            order();
            return;
        }
        Result ordered = watcher->future().takeResult();
        beginResetModel();
        m_order = std::move(ordered);
        m_rowOfLine = {};
        m_spansRow = -1;
        m_shownKeys = m_keys;
        endResetModel();
        emit orderShown();
    });
    watcher->setFuture(runInBackground([lines = m_workbench.sharedLines(), vocabulary = m_workbench.vocabulary(),
                                          keys, fileRanks = m_fileRanks]() -> Result {
        if (!lines || !vocabulary)
            return {};
        const WordRanks ranks = WordRanks::of(*lines, *vocabulary, keys);
        return concordanceOrder(*lines, keys, ranks, fileRanks);
    }));
}

void ConcordanceDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int column = index.column();
    if (column == ConcordanceModel::NumberColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    QFont font = opt.font;
    if (column == ConcordanceModel::HitColumn)
        font.setBold(true);
    QList<QTextLayout::FormatRange> formats;
    const auto spans = index.data(ConcordanceModel::SpansRole).value<QList<ColouredSpan>>();
    for (const ColouredSpan &span : spans) {
        QTextLayout::FormatRange range;
        range.start = int(span.start);
        range.length = int(span.length);
        range.format.setForeground(ConcordanceModel::levelColour(span.level));
        range.format.setFontWeight(QFont::Bold);
        if (span.level == ConcordanceModel::kCompanionLevel)
            range.format.setBackground(QColor(0xf3, 0xe5, 0xf5));
        formats.append(range);
    }
    QTextLayout layout(text, font);
    layout.setFormats(formats);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(1e6);
    layout.endLayout();
    if (!line.isValid())
        return;
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect area = opt.rect.adjusted(margin, 0, -margin, 0);
    const qreal width = line.naturalTextWidth();
    // The left context keeps the words nearest the hit in view: a long one loses its start.
    const qreal x = column == ConcordanceModel::LeftColumn ? area.right() + 1 - width : area.left();
    const qreal y = area.top() + (area.height() - line.height()) / 2;
    painter->save();
    painter->setClipRect(area);
    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = opt.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    layout.draw(painter, QPointF(x, y));
    painter->restore();
}

} // namespace corvalen
