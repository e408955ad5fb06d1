#include "workbench/plottab.h"

#include "base/figures.h"
#include "base/prompter.h"
#include "corpus/dispersion.h"
#include "windows/resultsexports.h"
#include "workbench/imagefile.h"
#include "workbench/rowview.h"
#include "workbench/workbench.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace corvalen {

namespace {

constexpr int kRowHeight = 26;
constexpr int kStripMargin = 6;     // pixels left free at each end of a strip and above and below it
constexpr int kNearMark = 4;        // a click this near a mark takes its hit
constexpr int kLargestImage = 30000; // pixels high, at most: a taller PNG is no use to anyone
constexpr int kRefreshEveryMs = 400; // while a search adds hits
constexpr int kCellPadding = 6;     // pixels between a cell's text and its edges in the image

} // namespace

DispersionModel::DispersionModel(Workbench &workbench, QObject *parent)
    : QAbstractTableModel(parent), m_workbench(workbench), m_rows(size_t(workbench.fileCount()))
{
}

int DispersionModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_workbench.hasQuery() ? 0 : int(m_rows.size());
}

int DispersionModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

double DispersionModel::perThousand(qint32 file) const
{
    const Row &row = m_rows[size_t(file)];
    return row.words > 0 ? 1000.0 * double(row.positions.size()) / double(row.words) : 0.0;
}

QVariant DispersionModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const qint32 file = index.row();
    const Row &row = m_rows[size_t(file)];
    const QLocale locale;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case FileColumn:
            return m_workbench.fileLabels().value(file);
        case WordsColumn:
            return row.words >= 0 ? locale.toString(row.words) : row.words == -1 ? tr("unread") : QString(u'\u2026');
        case HitsColumn:
            return locale.toString(qint64(row.positions.size()));
        case PerThousandColumn:
            return row.words >= 0 ? fixedFigure(locale, perThousand(file), 3) : QString();
        case JuillandColumn:
            return row.d ? fixedFigure(locale, *row.d, 4) : QString();
        }
        return {};
    case Qt::ToolTipRole:
        if (index.column() == FileColumn)
            return m_workbench.files().value(file);
        if (row.words == -1)
            return m_workbench.fileFailure(file);
        if (index.column() == PlotColumn && !row.positions.empty())
            return tr("Click a mark to see its hit in the file.");
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == FileColumn ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                            : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant DispersionModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case FileColumn:
        return tr("File");
    case WordsColumn:
        return tr("Words");
    case HitsColumn:
        return tr("Hits");
    case PerThousandColumn:
        return tr("Per 1,000 words");
    case JuillandColumn:
        return tr("Juilland's D");
    case PlotColumn:
        return tr("Plot");
    }
    return {};
}

void DispersionModel::refresh()
{
    beginResetModel();
    m_marks = 0;
    for (qint32 file = 0; file < qint32(m_rows.size()); ++file) {
        Row &row = m_rows[size_t(file)];
        row.positions.clear();
        row.marksWidth = -1;
        const Workbench::Range lines = m_workbench.fileLines(file);
        row.positions.reserve(size_t(lines.count));
        for (qsizetype i = lines.first; i < lines.first + lines.count; ++i) {
            const ConcordanceLine &line = m_workbench.line(i);
            if (!line.failed)
                row.positions.push_back(line.position);
        }
        m_marks += qint64(row.positions.size());
        row.words = m_workbench.fileWordsKnown(file) ? m_workbench.fileWords(file) : -2;
        row.d = row.words > 0 ? corvalen::juillandD(row.positions, row.words) : std::nullopt;
    }
    endResetModel();
}

int DispersionModel::markX(qint64 position, qint64 words, int width)
{
    if (words <= 0 || width <= 0)
        return 0;
    // Word i of W at i / W of the strip's width.
    return int(std::clamp<qint64>(qint64(double(position) / double(words) * width), 0, width - 1));
}

const std::vector<bool> &DispersionModel::marks(qint32 file, int width) const
{
    const Row &row = m_rows[size_t(file)];
    if (row.marksWidth != width) {
        row.marksWidth = width;
        row.marks.assign(size_t(std::max(0, width)), false);
        if (row.words > 0 && width > 0) {
            for (const qint64 p : row.positions)
                row.marks[size_t(markX(p, row.words, width))] = true;
        }
    }
    return row.marks;
}

qsizetype DispersionModel::hitNear(qint32 file, int x, int width) const
{
    if (size_t(file) >= m_rows.size())
        return -1;
    const Row &row = m_rows[size_t(file)];
    if (row.words <= 0 || row.positions.empty() || width <= 0)
        return -1;
    const qint64 target = qint64(double(x) / double(width) * double(row.words));
    const auto at = std::lower_bound(row.positions.begin(), row.positions.end(), target);
    qsizetype best = -1;
    int bestDistance = kNearMark + 1;
    const auto consider = [&](std::vector<qint64>::const_iterator it) {
        const int distance = std::abs(markX(*it, row.words, width) - x);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = it - row.positions.begin();
        }
        return distance <= kNearMark;
    };
    for (auto it = at; it != row.positions.end() && consider(it); ++it) { }
    for (auto it = at; it != row.positions.begin() && consider(it - 1); --it) { }
    // The hits of a file are its first lines, in text order; a failure of the file comes last.
    return best < 0 ? -1 : m_workbench.fileLines(file).first + best;
}

QRect StripDelegate::stripRect(const QRect &cell)
{
    return cell.adjusted(kStripMargin, kStripMargin / 2 + 1, -kStripMargin, -(kStripMargin / 2 + 1));
}

void StripDelegate::paintStrip(QPainter &painter, const QRect &strip, const std::vector<bool> &marks, const QColor &ink)
{
    painter.save();
    QColor line = ink;
    line.setAlpha(90);
    painter.setPen(QPen(line, 1));
    painter.drawLine(strip.left(), strip.center().y(), strip.right(), strip.center().y());
    painter.drawLine(strip.left(), strip.top(), strip.left(), strip.bottom());
    painter.drawLine(strip.right(), strip.top(), strip.right(), strip.bottom());
    painter.setPen(QPen(ink, 1));
    // One line per pixel column that holds a hit, however many hits share it.
    for (size_t x = 0; x < marks.size(); ++x) {
        if (marks[x])
            painter.drawLine(QLine(strip.left() + int(x), strip.top(), strip.left() + int(x), strip.bottom()));
    }
    painter.restore();
}

void StripDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() != DispersionModel::PlotColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const QRect strip = stripRect(opt.rect);
    const bool selected = opt.state & QStyle::State_Selected;
    paintStrip(*painter, strip, m_model.marks(index.row(), strip.width()),
               opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
}

PlotTab::PlotTab(Workbench &workbench, QWidget *parent) : WorkbenchTab(workbench, parent)
{
    setObjectName(u"plotTab"_qs);
    m_title = new QLabel(this);
    m_title->setObjectName(u"plotTitle"_qs);
    m_title->setTextFormat(Qt::PlainText);
    m_save = new QPushButton(tr("Save Image..."), this);
    m_save->setObjectName(u"savePlotImage"_qs);
    m_model = new DispersionModel(m_workbench, this);
    m_view = new QTableView(this);
    m_view->setObjectName(u"plotRows"_qs);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new StripDelegate(*m_model, m_view));
    setUpRowView(m_view, QAbstractItemView::SingleSelection, kRowHeight);
    m_view->setShowGrid(false);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->horizontalHeader()->setMinimumSectionSize(40);
    m_view->setColumnWidth(DispersionModel::FileColumn, 180);
    // Room for ten-digit figures, and never less than the header ("Per 1,000 words").
    for (const int column : {DispersionModel::WordsColumn, DispersionModel::HitsColumn, DispersionModel::PerThousandColumn,
                             DispersionModel::JuillandColumn})
        m_view->setColumnWidth(column, std::max(100, m_view->horizontalHeader()->sectionSizeHint(column)));
    m_view->viewport()->installEventFilter(this);
    m_view->viewport()->setMouseTracking(true);

    auto *top = new QHBoxLayout;
    top->addWidget(m_title, 1);
    top->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);

    connect(m_save, &QPushButton::clicked, this, &PlotTab::saveImage);
    // The hits come from the concordance's search; the plot follows when it is seen.
    // The rows of the query before go at once (there are no lines yet: it costs nothing), their
    // marks no longer naming its lines.
    connect(&m_workbench, &Workbench::searchStarted, this, &PlotTab::refresh);
    connect(&m_workbench, &Workbench::linesAdded, this, &PlotTab::refreshSoon);
    connect(&m_workbench, &Workbench::filesRead, this, &PlotTab::refreshSoon);
    connect(&m_workbench, &Workbench::searchFinished, this, [this] {
        m_stale = true;
        if (isVisible())
            refresh();
    });
    refresh();
}

QString PlotTab::plotTitle() const
{
    if (!m_workbench.hasQuery())
        return tr("Search in the Concordance tab: the plot shows where the hits fall in each file.");
    const QLocale locale;
    const qint64 hits = m_workbench.hitCount();
    const QString found = hits == 1 ? tr("1 hit") : tr("%1 hits").arg(locale.toString(hits));
    QString title = tr("\u201C%1\u201D: %2 in %Ln file(s)", nullptr, m_workbench.fileCount()).arg(m_workbench.query().text, found);
    if (m_workbench.isSearching())
        title += u" "_qs + tr("(searching...)");
    return title;
}

void PlotTab::refreshSoon()
{
    m_stale = true;
    if (!isVisible() || m_refreshQueued)
        return;
    m_refreshQueued = true;
    QTimer::singleShot(kRefreshEveryMs, this, [this] {
        m_refreshQueued = false;
        if (m_stale && isVisible())
            refresh();
    });
}

void PlotTab::refresh()
{
    m_stale = false;
    m_model->refresh();
    m_title->setText(plotTitle());
    m_save->setEnabled(m_workbench.hasQuery());
    emit refreshed();
}

void PlotTab::showEvent(QShowEvent *event)
{
    WorkbenchTab::showEvent(event);
    if (m_stale)
        refresh();
}

bool PlotTab::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QModelIndex index = m_view->indexAt(mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton && index.isValid() && index.column() == DispersionModel::PlotColumn) {
            const QRect strip = StripDelegate::stripRect(m_view->visualRect(index));
            const qsizetype line = m_model->hitNear(index.row(), mouse->position().toPoint().x() - strip.left(), strip.width());
            if (line >= 0) {
                m_workbench.showHit(line);
                return true;
            }
        }
    } else if (watched == m_view->viewport() && event->type() == QEvent::MouseMove) {
        // A pointing hand over a mark: it can be clicked.
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QModelIndex index = m_view->indexAt(mouse->position().toPoint());
        bool near = false;
        if (index.isValid() && index.column() == DispersionModel::PlotColumn) {
            const QRect strip = StripDelegate::stripRect(m_view->visualRect(index));
            near = m_model->hitNear(index.row(), mouse->position().toPoint().x() - strip.left(), strip.width()) >= 0;
        }
        if (near)
            m_view->viewport()->setCursor(Qt::PointingHandCursor);
        else
            m_view->viewport()->unsetCursor();
    }
    return WorkbenchTab::eventFilter(watched, event);
}

std::vector<int> PlotTab::imageColumnWidths() const
{
    const QHeaderView *header = m_view->horizontalHeader();
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics headerMetrics(bold);
    const QFontMetrics metrics(font());
    std::vector<int> widths;
    for (int c = 0; c < DispersionModel::PlotColumn; ++c) {
        const QString name = m_model->headerData(c, Qt::Horizontal).toString();
        int w = std::max(header->sectionSize(c), headerMetrics.horizontalAdvance(name) + 2 * kCellPadding);
        if (c != DispersionModel::FileColumn) {
            for (int row = 0; row < m_model->rowCount(); ++row)
                w = std::max(w, metrics.horizontalAdvance(m_model->index(row, c).data().toString()) + 2 * kCellPadding);
        }
        widths.push_back(w);
    }
    return widths;
}

QSize PlotTab::imageSize() const
{
    int width = std::max(400, m_view->horizontalHeader()->sectionSize(DispersionModel::PlotColumn));
    for (const int w : imageColumnWidths())
        width += w;
    const int titleHeight = fontMetrics().height() * 2;
    const int headerHeight = fontMetrics().height() + 10;
    return {width, titleHeight + headerHeight + m_model->rowCount() * kRowHeight + 4};
}

void PlotTab::render(QPainter &painter, const QSize &size) const
{
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    painter.setFont(font());
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font());
    const int titleHeight = metrics.height() * 2;
    const int headerHeight = metrics.height() + 10;
    const QRect titleRect(8, 0, size.width() - 16, titleHeight);
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(plotTitle(), Qt::ElideRight, titleRect.width()));
    std::vector<QRect> columns;
    int x = 0;
    for (const int w : imageColumnWidths()) {
        columns.emplace_back(x, 0, w, 0);
        x += w;
    }
    columns.emplace_back(x, 0, std::max(0, size.width() - x), 0);
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    for (int c = 0; c < DispersionModel::ColumnCount; ++c) {
        const QRect &column = columns[size_t(c)];
        const QRect cell(column.left() + kCellPadding, titleHeight, column.width() - 2 * kCellPadding, headerHeight);
        painter.drawText(cell, Qt::AlignVCenter | (c == DispersionModel::FileColumn || c == DispersionModel::PlotColumn ? Qt::AlignLeft : Qt::AlignRight),
                         m_model->headerData(c, Qt::Horizontal).toString());
    }
    painter.setFont(font());
    painter.setPen(QColor(0xc0, 0xc0, 0xc0));
    painter.drawLine(0, titleHeight + headerHeight - 1, size.width(), titleHeight + headerHeight - 1);
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const int top = titleHeight + headerHeight + row * kRowHeight;
        if (top + kRowHeight > size.height())
            break;
        painter.setPen(Qt::black);
        for (int c = 0; c < DispersionModel::PlotColumn; ++c) {
            const QModelIndex index = m_model->index(row, c);
            const QRect &column = columns[size_t(c)];
            const QRect cell(column.left() + kCellPadding, top, column.width() - 2 * kCellPadding, kRowHeight);
            const QString text = metrics.elidedText(index.data().toString(), Qt::ElideRight, cell.width());
            painter.drawText(cell, Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()), text);
        }
        const QRect strip = StripDelegate::stripRect(QRect(columns.back().left(), top, columns.back().width(), kRowHeight));
        StripDelegate::paintStrip(painter, strip, m_model->marks(row, strip.width()), Qt::black);
    }
}

void PlotTab::saveImage()
{
    const QString name = askSaveName(m_workbench.prompter(), tr("Save Image"),
                                     {tr("PNG Image (*.png)"), tr("SVG Image (*.svg)")});
    if (name.isEmpty())
        return;
    QString error;
    if (!writeImage(name, &error))
        m_workbench.prompter().message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
}

bool PlotTab::writeImage(const QString &path, QString *error)
{
    QSize size = imageSize();
    if (!isSvgPath(path))
        size.setHeight(std::min(size.height(), kLargestImage));
    return writeImageFile(path, size, plotTitle(), [&](QPainter &painter) { render(painter, size); }, std::nullopt, error);
}

} // namespace corvalen
