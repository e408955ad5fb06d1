#include "context/contextwindow.h"

#include "base/prompter.h"
#include "base/safefile.h"
#include "engine/wordtally.h"
#include "windows/resultsexports.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace corvalen {

ContextModel::ContextModel(QStringList fileLabels, QObject *parent)
    : QAbstractTableModel(parent), m_fileLabels(std::move(fileLabels))
{
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
    const Line &o = lineAt(index.row());
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
    m_lines.clear();
    m_shown.clear();
    m_occurrences = 0;
    endResetModel();
}

void ContextModel::append(const QList<Occurrence> &lines)
{
    if (lines.isEmpty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + int(lines.size()) - 1);
    for (const Occurrence &o : lines) {
        m_shown.push_back(qint32(m_lines.size()));
        m_lines.push_back({o.left + o.text + o.right, o.file, qint32(o.left.size()), qint32(o.text.size()), o.failed});
        m_occurrences += o.failed ? 0 : 1;
    }
    endInsertRows();
}

void ContextModel::setOrder(ContextOrder order)
{
    m_order = order;
    beginResetModel();
    m_shown.resize(m_lines.size());
    for (size_t i = 0; i < m_shown.size(); ++i)
        m_shown[i] = qint32(i);
    if (order != ContextOrder::Text) {
        QCollator collator;
        collator.setNumericMode(true);
        // Left context is read from the word outwards, as a concordance orders it: the nearest
        // word first.
        const auto key = [&](const Line &o) {
            if (order == ContextOrder::Right)
                return collator.sortKey(o.right().trimmed().toString());
            QList<QStringView> words = o.left().split(u' ', Qt::SkipEmptyParts);
            std::reverse(words.begin(), words.end());
            QString reversed;
            for (QStringView w : std::as_const(words))
                reversed += (reversed.isEmpty() ? QString() : u" "_qs) + w;
            return collator.sortKey(reversed);
        };
        std::vector<QCollatorSortKey> keys;
        keys.reserve(m_lines.size());
        for (const Line &o : m_lines)
            keys.push_back(key(o));
        std::stable_sort(m_shown.begin(), m_shown.end(), [&](qint32 a, qint32 b) {
            return keys[size_t(a)].compare(keys[size_t(b)]) < 0;
        });
    }
    endResetModel();
}

QString ContextModel::lineText(int row) const
{
    const Line &o = lineAt(row);
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
    m_order->addItem(tr("By left context"), int(ContextOrder::Left));
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

    connect(copyAction, &QAction::triggered, this, &ContextWindow::copySelectedLines);
    connect(copy, &QPushButton::clicked, this, &ContextWindow::copySelectedLines);
    connect(saveButton, &QPushButton::clicked, this, &ContextWindow::save);
    connect(m_stop, &QPushButton::clicked, this, &ContextWindow::stop);
    connect(m_width, &QSpinBox::valueChanged, this, &ContextWindow::setContextWidth);
    connect(m_order, &QComboBox::currentIndexChanged, this,
            [this](int i) { setOrder(ContextOrder(m_order->itemData(i).toInt())); });
    connect(m_search, &OccurrenceSearch::found, this, [this](const QList<Occurrence> &batch) {
        const bool first = m_model->rowCount() == 0;
        m_model->append(batch);
        if (first)
            m_view->resizeColumnsToContents();
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
        m_model->setOrder(m_model->order()); // lines that came after ordering take their places
    if (m_model->rowCount() > 0 && m_model->rowCount() < 5000)
        m_view->resizeColumnsToContents();
    updateTitle();
    emit searchFinished();
}

void ContextWindow::updateTitle()
{
    const qint64 n = m_model->occurrenceCount();
    const QString occurrences = n == 1 ? tr("1 occurrence") : tr("%1 occurrences").arg(n);
    setWindowTitle(tr("\u201C%1\u201D in Context: %2 - %3").arg(m_query.word, occurrences, Prompter::applicationTitle()));
    if (m_search->isRunning())
        m_status->setText(tr("Searching... %1 found so far").arg(n));
    else if (m_stopped)
        m_status->setText(tr("Stopped: %1 occurrences found").arg(n));
    else
        m_status->setText(tr("%1 occurrences").arg(n));
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

void ContextWindow::setOrder(ContextOrder order)
{
    const int i = m_order->findData(int(order));
    if (m_order->currentIndex() != i) {
        m_order->setCurrentIndex(i); // comes back here
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_model->setOrder(order);
    QGuiApplication::restoreOverrideCursor();
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
