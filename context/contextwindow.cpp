#include "context/contextwindow.h"

#include "base/prompter.h"
#include "base/safefile.h"
#include "engine/wordtally.h"
#include "windows/commandbars.h"
#include "windows/resultsexports.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableView>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <numeric>
#include <optional>

namespace corvalen {

namespace {

constexpr qint32 kBlockLines = 4096;

// Left context is read from the word outwards, as a concordance orders it: the nearest word
// first.
QString outwards(QStringView left)
{
    QList<QStringView> words = left.split(u' ', Qt::SkipEmptyParts);
    std::reverse(words.begin(), words.end());
    QString reversed;
    for (QStringView w : std::as_const(words))
        reversed += (reversed.isEmpty() ? QString() : u" "_qs) + w;
    return reversed;
}

// What a line is ordered by.
QString orderKey(const ContextLine &line, ContextOrder order, const QStringList &fileLabels)
{
    switch (order) {
    case ContextOrder::File:
        return fileLabels.value(line.file);
    case ContextOrder::Left:
        return outwards(line.left());
    case ContextOrder::Occurrence:
        return line.word().toString();
    case ContextOrder::Right:
        return line.right().trimmed().toString();
    case ContextOrder::Text:
        break;
    }
    return {};
}

// The first count lines in the order chosen, ties in text order; nothing when cancelled first.
template<typename LineAt, typename Cancelled>
std::optional<std::vector<qint32>> orderOf(const LineAt &lineAt, qint32 count, ContextOrder order,
                                           Qt::SortOrder direction, const QStringList &fileLabels,
                                           const QLocale &locale, const Cancelled &cancelled)
{
    std::vector<qint32> ordered(static_cast<size_t>(count));
    std::iota(ordered.begin(), ordered.end(), 0);
    if (order == ContextOrder::Text)
        return ordered;
    QCollator collator(locale);
    collator.setNumericMode(true);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(count));
    for (qint32 i = 0; i < count; ++i) {
        if (i % 1024 == 0 && cancelled())
            return {};
        keys.push_back(collator.sortKey(orderKey(lineAt(i), order, fileLabels)));
    }
    // Reversed, ties still keep text order, as the explorer's columns do.
    const int sign = direction == Qt::AscendingOrder ? 1 : -1;
    const auto less = [&keys, sign](qint32 a, qint32 b) {
        return sign * keys[size_t(a)].compare(keys[size_t(b)]) < 0;
    };
    // Stable, in runs merged in pairs, so that a cancel is seen between the steps.
    constexpr size_t kRun = 1 << 14;
    const auto at = [&ordered](size_t i) { return ordered.begin() + qsizetype(std::min(i, ordered.size())); };
    for (size_t from = 0; from < ordered.size(); from += kRun) {
        if (cancelled())
            return {};
        std::stable_sort(at(from), at(from + kRun), less);
    }
    for (size_t run = kRun; run < ordered.size(); run *= 2) {
        for (size_t from = 0; from + run < ordered.size(); from += 2 * run) {
            if (cancelled())
                return {};
            std::inplace_merge(at(from), at(from + run), at(from + 2 * run), less);
        }
    }
    return ordered;
}

// Freeing a million lines takes tens of milliseconds: another thread does it.
template<typename Lines>
void releaseElsewhere(Lines &lines)
{
    if (lines.empty())
        return;
    auto held = std::make_shared<Lines>(std::move(lines));
    lines.clear();
    QThreadPool::globalInstance()->start([held]() mutable { held.reset(); });
}

} // namespace

ContextModel::ContextModel(QStringList fileLabels, QObject *parent)
    : QAbstractTableModel(parent),
      m_fileLabels(std::move(fileLabels)),
      m_orderGeneration(std::make_shared<std::atomic<quint64>>(0))
{
}

ContextModel::~ContextModel()
{
    ++*m_orderGeneration; // an ordering under way ends soon, unseen
    releaseElsewhere(m_blocks);
}

const ContextLine &ContextModel::line(qint32 i) const
{
    return (*m_blocks[size_t(i / kBlockLines)])[size_t(i % kBlockLines)];
}

int ContextModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

int ContextModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 4;
}

QVariant ContextModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ContextLine &o = lineAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case FileColumn:
            return m_fileLabels.value(o.file);
        case LeftColumn:
            return o.left().toString();
        case WordColumn:
            return o.word().toString();
        case RightColumn:
            return o.right().toString();
        }
        return {};
    case Qt::ToolTipRole:
        return index.column() == FileColumn || o.failed ? QVariant(o.failed ? o.text : m_fileLabels.value(o.file))
                                                        : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == LeftColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                            : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::FontRole:
        if (index.column() == WordColumn && !o.failed) {
            QFont bold = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::BackgroundRole:
        if (index.column() == WordColumn && !o.failed)
            return QApplication::palette().brush(QPalette::Active, QPalette::Highlight).color().lighter(170);
        return {};
    }
    return {};
}

QVariant ContextModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // A first click on a header orders A first.
    if (orientation == Qt::Horizontal && role == Qt::InitialSortOrderRole)
        return int(Qt::AscendingOrder);
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case FileColumn:
        return tr("File");
    case LeftColumn:
        return tr("Left");
    case WordColumn:
        return tr("Occurrence");
    case RightColumn:
        return tr("Right");
    }
    return {};
}

void ContextModel::clear()
{
    beginResetModel();
    ++*m_orderGeneration;
    m_ordering = false;
    releaseElsewhere(m_blocks);
    m_lineCount = 0;
    m_shown.clear();
    m_occurrences = 0;
    endResetModel();
}

void ContextModel::append(const QList<ContextLine> &lines)
{
    if (lines.isEmpty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + int(lines.size()) - 1);
    for (const ContextLine &l : lines) {
        if (m_lineCount % kBlockLines == 0) {
            m_blocks.push_back(std::make_shared<Block>());
            m_blocks.back()->reserve(size_t(kBlockLines));
        }
        m_blocks.back()->push_back(l);
        m_shown.push_back(m_lineCount++);
        m_occurrences += l.failed ? 0 : 1;
    }
    endInsertRows();
}

int ContextModel::columnOf(ContextOrder order)
{
    switch (order) {
    case ContextOrder::File:
        return FileColumn;
    case ContextOrder::Left:
        return LeftColumn;
    case ContextOrder::Occurrence:
        return WordColumn;
    case ContextOrder::Right:
        return RightColumn;
    case ContextOrder::Text:
        break;
    }
    return -1;
}

void ContextModel::setOrder(ContextOrder order, Qt::SortOrder direction)
{
    m_order = order;
    m_direction = direction;
    const quint64 generation = ++*m_orderGeneration;
    const QLocale locale;
    if (order == ContextOrder::Text || m_lineCount <= kOrderedAtOnce) {
        m_ordering = false;
        showOrder(*orderOf([this](qint32 i) -> const ContextLine & { return line(i); }, m_lineCount, order,
                           direction, m_fileLabels, locale, [] { return false; }));
        return;
    }
    // The thread gets the blocks as they are; the last, which still grows, as a copy.
    std::vector<std::shared_ptr<const Block>> blocks(m_blocks.begin(), m_blocks.end());
    if (blocks.back()->size() < size_t(kBlockLines))
        blocks.back() = std::make_shared<const Block>(*blocks.back());
    m_ordering = true;
    emit orderingStarted();
    using Result = std::optional<std::vector<qint32>>;
    auto *watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcher<Result>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != m_orderGeneration->load())
            return; // other lines, or another order, since
        Result ordered = watcher->future().takeResult();
        m_ordering = false;
        if (ordered)
            showOrder(std::move(*ordered));
    });
    watcher->setFuture(QtConcurrent::run(
            [blocks = std::move(blocks), count = m_lineCount, order, direction, labels = m_fileLabels, locale,
             counter = m_orderGeneration, generation] {
                return orderOf(
                        [&blocks](qint32 i) -> const ContextLine & {
                            return (*blocks[size_t(i / kBlockLines)])[size_t(i % kBlockLines)];
                        },
                        count, order, direction, labels, locale,
                        [&] { return counter->load(std::memory_order_relaxed) != generation; });
            }));
}

void ContextModel::showOrder(std::vector<qint32> ordered)
{
    beginResetModel();
    // Lines found since the ordering began follow the ordered ones, in text order.
    for (auto i = qint32(ordered.size()); i < m_lineCount; ++i)
        ordered.push_back(i);
    m_shown = std::move(ordered);
    endResetModel();
    emit orderShown();
}

QString ContextModel::lineText(int row) const
{
    const ContextLine &o = lineAt(row);
    return m_fileLabels.value(o.file) + u'\t' + o.left() + u'\t' + o.word() + u'\t' + o.right();
}

ContextWindow::ContextWindow(const OccurrenceQuery &query, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_query(query), m_prompter(prompter)
{
    setObjectName(u"contextWindow"_qs);
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    QStringList labels;
    for (const QString &path : std::as_const(m_query.files))
        labels << fileNameFromPath(path);

    m_search = new OccurrenceSearch(this);
    m_model = new ContextModel(labels, this);
    m_view = new QTableView(this);
    m_view->setObjectName(u"contextLines"_qs);
    m_view->setModel(m_model);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->setShowGrid(false);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->horizontalHeader()->setSectionsClickable(true);
    m_view->horizontalHeader()->setSortIndicatorShown(true);
    m_view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder); // text order
    m_view->setTextElideMode(Qt::ElideNone);

    m_status = new QLabel(this);
    m_status->setObjectName(u"contextStatus"_qs);
    m_stop = new QPushButton(tr("Stop"), this);
    m_stop->setObjectName(u"stopContext"_qs);
    m_width = new QSpinBox(this);
    m_width->setObjectName(u"contextWidth"_qs);
    m_width->setRange(OccurrenceQuery::kMinWidth, OccurrenceQuery::kMaxWidth);
    m_width->setValue(std::clamp(m_query.width, OccurrenceQuery::kMinWidth, OccurrenceQuery::kMaxWidth));
    m_width->setSuffix(tr(" characters"));
    m_width->setKeyboardTracking(false);
    m_order = new QComboBox(this);
    m_order->setObjectName(u"contextOrder"_qs);
    m_order->addItem(tr("Text order"), int(ContextOrder::Text));
    m_order->addItem(tr("By file"), int(ContextOrder::File));
    m_order->addItem(tr("By left context"), int(ContextOrder::Left));
    m_order->addItem(tr("By occurrence"), int(ContextOrder::Occurrence));
    m_order->addItem(tr("By right context"), int(ContextOrder::Right));
    auto *copy = new QPushButton(tr("Copy"), this);
    copy->setObjectName(u"copyContext"_qs);
    copy->setToolTip(tr("Copies the selected lines (Ctrl+C)."));
    auto *saveButton = new QPushButton(tr("Save..."), this);
    saveButton->setObjectName(u"saveContext"_qs);
    saveButton->setToolTip(tr("Writes every line to a UTF-8 text file, tab-separated."));

    auto *top = new QHBoxLayout;
    auto *widthLabel = new QLabel(tr("&Width:"), this);
    widthLabel->setBuddy(m_width);
    auto *orderLabel = new QLabel(tr("&Order:"), this);
    orderLabel->setBuddy(m_order);
    top->addWidget(widthLabel);
    top->addWidget(m_width);
    top->addSpacing(12);
    top->addWidget(orderLabel);
    top->addWidget(m_order);
    top->addStretch();
    top->addWidget(m_stop);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(copy);
    bottom->addWidget(saveButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addLayout(bottom);

    auto *copyAction = new QAction(tr("Copy"), m_view);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_view->addAction(copyAction);
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    addCloseShortcut(this);

    connect(copyAction, &QAction::triggered, this, &ContextWindow::copySelectedLines);
    connect(copy, &QPushButton::clicked, this, &ContextWindow::copySelectedLines);
    connect(saveButton, &QPushButton::clicked, this, &ContextWindow::save);
    connect(m_stop, &QPushButton::clicked, this, &ContextWindow::stop);
    connect(m_width, &QSpinBox::valueChanged, this, &ContextWindow::setContextWidth);
    connect(m_order, &QComboBox::currentIndexChanged, this,
            [this](int i) { setOrder(ContextOrder(m_order->itemData(i).toInt())); });
    // Headers order as the explorer's do: a click orders by the column, a second reverses.
    connect(m_view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, [this](int section, Qt::SortOrder direction) {
        for (const ContextOrder order : {ContextOrder::File, ContextOrder::Left, ContextOrder::Occurrence, ContextOrder::Right}) {
            if (ContextModel::columnOf(order) == section)
                setOrder(order, direction);
        }
    });
    connect(m_model, &ContextModel::orderingStarted, this, &ContextWindow::updateTitle);
    connect(m_model, &ContextModel::orderShown, this, [this] {
        updateTitle();
        emit orderShown();
    });
    connect(m_search, &OccurrenceSearch::found, this, [this](const QList<ContextLine> &batch) {
        const bool first = m_model->rowCount() == 0;
        m_model->append(batch);
        if (first)
            fitColumns();
        updateTitle();
    });
    connect(m_search, &OccurrenceSearch::finished, this, &ContextWindow::searchEnded);

    resize(1000, 560);
    startSearch();
}

ContextWindow::~ContextWindow() = default;

void ContextWindow::startSearch()
{
    m_model->clear();
    m_stopped = false;
    QString error;
    if (!m_search->start(m_query, &error)) {
        m_status->setText(error);
        m_stop->setEnabled(false);
        updateTitle();
        return;
    }
    m_stop->setEnabled(true);
    updateTitle();
}

void ContextWindow::stop()
{
    if (!m_search->isRunning())
        return;
    m_stopped = true;
    m_search->stop();
}

void ContextWindow::searchEnded(bool stopped)
{
    m_stopped = m_stopped || stopped;
    m_stop->setEnabled(false);
    if (m_model->order() != ContextOrder::Text)
        m_model->setOrder(m_model->order(), m_model->direction()); // lines that came after ordering take their places
    if (m_model->rowCount() > 0 && m_model->rowCount() < 5000)
        fitColumns();
    updateTitle();
    emit searchFinished();
}

void ContextWindow::fitColumns()
{
    m_view->resizeColumnsToContents();
    // The lines sized the columns from what has arrived so far; a file whose lines come later
    // may have a longer name, and every name is known from the start.
    const QFontMetrics metrics(m_view->font());
    int widest = 0;
    for (const QString &label : m_model->fileLabels())
        widest = std::max(widest, metrics.horizontalAdvance(label));
    const int fileWidth = std::min(widest + 2 * metrics.averageCharWidth(), m_view->viewport()->width() / 3);
    if (fileWidth > m_view->columnWidth(ContextModel::FileColumn))
        m_view->setColumnWidth(ContextModel::FileColumn, fileWidth);
}

void ContextWindow::updateTitle()
{
    const qint64 n = m_model->occurrenceCount();
    const QString number = QLocale().toString(n);
    const QString occurrences = n == 1 ? tr("1 occurrence") : tr("%1 occurrences").arg(number);
    setWindowTitle(tr("\u201C%1\u201D in Context: %2 - %3").arg(m_query.word, occurrences, Prompter::applicationTitle()));
    QString status = m_search->isRunning() ? tr("Searching... %1 found so far").arg(number)
            : m_stopped                       ? tr("Stopped: %1 found").arg(occurrences)
                                              : occurrences;
    // The view can be used while its lines are ordered: busy, not waiting.
    if (m_model->isOrdering())
        m_view->viewport()->setCursor(Qt::BusyCursor);
    else
        m_view->viewport()->unsetCursor();
    if (m_model->isOrdering()) {
        switch (m_model->order()) {
        case ContextOrder::File:
            status += u"  "_qs + tr("(ordering the lines by file...)");
            break;
        case ContextOrder::Left:
            status += u"  "_qs + tr("(ordering the lines by the left context...)");
            break;
        case ContextOrder::Occurrence:
            status += u"  "_qs + tr("(ordering the lines by the occurrence...)");
            break;
        case ContextOrder::Right:
            status += u"  "_qs + tr("(ordering the lines by the right context...)");
            break;
        case ContextOrder::Text:
            break;
        }
    }
    m_status->setText(status);
}

void ContextWindow::setContextWidth(int width)
{
    width = std::clamp(width, OccurrenceQuery::kMinWidth, OccurrenceQuery::kMaxWidth);
    if (m_width->value() != width)
        m_width->setValue(width); // comes back here
    if (width == m_query.width)
        return;
    m_query.width = width;
    startSearch();
}

void ContextWindow::setOrder(ContextOrder order, Qt::SortOrder direction)
{
    {
        // The list and the header show the order chosen either way.
        const QSignalBlocker list(m_order);
        const QSignalBlocker header(m_view->horizontalHeader());
        m_order->setCurrentIndex(m_order->findData(int(order)));
        m_view->horizontalHeader()->setSortIndicator(ContextModel::columnOf(order), direction);
    }
    m_model->setOrder(order, direction);
}

void ContextWindow::copySelectedLines()
{
    QList<int> rows;
    for (const QModelIndex &index : m_view->selectionModel()->selectedRows())
        rows.append(index.row());
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    QString text;
    for (int row : std::as_const(rows))
        text += m_model->lineText(row) + u'\n';
    QGuiApplication::clipboard()->setText(text);
}

bool ContextWindow::saveTo(const QString &path, QString *error)
{
    return writeFileSafely(
            path,
            [this](QIODevice &device, QString *) {
                QByteArray block;
                for (int row = 0; row < m_model->rowCount(); ++row) {
                    block += (m_model->lineText(row) + u'\n').toUtf8();
                    if (block.size() >= (1 << 16)) {
                        if (!writeAll(device, block))
                            return false;
                        block.clear();
                    }
                }
                return writeAll(device, block);
            },
            error);
}

void ContextWindow::save()
{
    const QString path = askSaveName(m_prompter, tr("Save Lines"), {tr("Text files (*.txt)"), tr("All files (*)")});
    if (path.isEmpty())
        return;
    QString error;
    if (!saveTo(path, &error))
        m_prompter.message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
}

} // namespace corvalen
