#include "workbench/corpustabletab.h"

#include "base/prompter.h"
#include "windows/resultsexports.h"
#include "workbench/corpusjob.h"
#include "workbench/corpustablemodel.h"
#include "workbench/rowview.h"
#include "workbench/workbench.h"

#include <QAction>
#include <QBoxLayout>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableView>

#include <algorithm>

namespace corvalen {

bool sameQueryWords(const WorkbenchQuery &a, const WorkbenchQuery &b)
{
    return a.text.trimmed() == b.text.trimmed() && a.mode == b.mode && a.matchCase == b.matchCase;
}

CorpusTableTab::CorpusTableTab(Workbench &workbench, QWidget *parent) : WorkbenchTab(workbench, parent)
{
    m_job = new CorpusJob(this);
    m_model = new CorpusTableModel(this);
    m_start = new QPushButton(tr("Start"), this);
    m_stop = new QPushButton(tr("Stop"), this);
    m_stop->setEnabled(false);
    m_view = new QTableView(this);
    m_view->setModel(m_model);
    setUpRowView(m_view, QAbstractItemView::ExtendedSelection, m_view->fontMetrics().height() + 6);
    m_view->setAlternatingRowColors(true);
    QHeaderView *header = m_view->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::DescendingOrder);
    header->setDefaultSectionSize(100);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &CorpusTableTab::sortBy);

    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(160);
    m_progress->setTextVisible(false);
    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_copy = new QPushButton(tr("Copy"), this);
    m_copy->setObjectName(u"copyRows"_qs);
    m_copy->setToolTip(tr("Copies the selected rows with the header line, tab-separated (Ctrl+C)."));
    m_export = new QPushButton(tr("Export..."), this);
    m_export->setObjectName(u"exportTable"_qs);
    m_export->setToolTip(tr("Writes the rows as shown to a CSV file, tab-separated text or a workbook."));

    auto *copyAction = new QAction(tr("Copy"), m_view);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_view->addAction(copyAction);
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copyAction, &QAction::triggered, this, &CorpusTableTab::copySelectedRows);
    connect(m_copy, &QPushButton::clicked, this, &CorpusTableTab::copySelectedRows);
    connect(m_export, &QPushButton::clicked, this, &CorpusTableTab::exportTable);
    connect(m_start, &QPushButton::clicked, this, &CorpusTableTab::start);
    connect(m_stop, &QPushButton::clicked, this, &CorpusTableTab::stop);
    connect(m_view, &QTableView::activated, this, [this](const QModelIndex &index) {
        if (index.isValid() && index.row() < m_model->rowCount())
            activateRow(m_model->rowAt(index.row()));
    });
    connect(m_job, &CorpusJob::progressChanged, m_progress, &QProgressBar::setValue);
    connect(m_job, &CorpusJob::failed, this, [this](const QString &reason) {
        m_stop->setEnabled(false);
        setStatus(reason);
        m_workbench.prompter().message(reason, Prompter::applicationTitle(), Prompter::Icon::Warning);
        emit tableShown();
    });
    connect(m_job, &CorpusJob::finished, this, [this](bool stopped) {
        m_stop->setEnabled(false);
        if (stopped) {
            setStatus(tr("Stopped."));
            emit tableShown();
        }
    });
}

CorpusTableTab::~CorpusTableTab() = default;

QWidget *CorpusTableTab::searchField() const
{
    return m_queryField;
}

QLineEdit *CorpusTableTab::createQueryField(const QString &objectName, const QString &placeholder)
{
    m_queryField = new QLineEdit(this);
    m_queryField->setObjectName(objectName);
    m_queryField->setPlaceholderText(placeholder);
    m_queryField->setClearButtonEnabled(true);
    const auto showQuery = [this] {
        if (m_workbench.hasQuery() && m_queryField->text() != m_workbench.query().text)
            m_queryField->setText(m_workbench.query().text);
        m_queryField->setStyleSheet(QString());
        m_queryField->setToolTip(QString());
    };
    connect(&m_workbench, &Workbench::searchStarted, this, showQuery);
    connect(m_queryField, &QLineEdit::textEdited, this, [this] {
        m_queryField->setStyleSheet(QString());
        m_queryField->setToolTip(QString());
    });
    connect(m_queryField, &QLineEdit::returnPressed, this, &CorpusTableTab::start);
    showQuery();
    return m_queryField;
}

bool CorpusTableTab::takeQueryField()
{
    if (!m_queryField)
        return true;
    const QString typed = m_queryField->text().trimmed();
    if (m_workbench.hasQuery() && typed == m_workbench.query().text.trimmed())
        return true;
    // The query held is the concordance's: its mode, letter case and width go on.
    WorkbenchQuery query = m_workbench.query();
    query.text = typed;
    query.companion.clear();
    query.companionLeft = 0;
    query.companionRight = 0;
    QString error;
    if (m_workbench.search(query, &error))
        return true;
    // What was found before stays: the query is for the user to mend.
    m_queryField->setStyleSheet(u"QLineEdit { background: #ffd6d6; }"_qs);
    m_queryField->setToolTip(error);
    setStatus(error);
    emit tableShown();
    return false;
}

void CorpusTableTab::finishLayout(QBoxLayout *settings, const QList<CorpusTableColumn> &columns)
{
    m_model->setColumns(columns);
    QHeaderView *header = m_view->horizontalHeader();
    for (int c = 0; c < columns.size(); ++c) {
        header->setSectionResizeMode(c, columns.at(c).isNumber() ? QHeaderView::Interactive : QHeaderView::Stretch);
        // A number column is at least as wide as its header ("Reference per million").
        if (columns.at(c).isNumber())
            header->resizeSection(c, std::max(header->defaultSectionSize(), header->sectionSizeHint(c)));
    }
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_progress);
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_copy);
    bottom->addWidget(m_export);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(settings);
    layout->addWidget(m_view, 1);
    layout->addLayout(bottom);
}

void CorpusTableTab::showEvent(QShowEvent *event)
{
    WorkbenchTab::showEvent(event);
    shown();
}

bool CorpusTableTab::isRunning() const
{
    return m_job->isRunning();
}

void CorpusTableTab::run(const std::function<void(const std::atomic<bool> &, Progress &)> &work,
                         const std::function<void()> &done)
{
    m_stop->setEnabled(true);
    m_progress->setValue(0);
    m_job->start(work, done);
}

void CorpusTableTab::stop()
{
    m_job->stop();
}

void CorpusTableTab::setStatus(const QString &text)
{
    m_status->setText(text);
}

void CorpusTableTab::clearTable()
{
    m_model->setTable(nullptr);
}

void CorpusTableTab::showTable(std::shared_ptr<const CorpusTable> table, int sortColumn, Qt::SortOrder order)
{
    m_model->setTable(std::move(table));
    fitNumberColumns();
    const QSignalBlocker block(m_view->horizontalHeader());
    m_view->horizontalHeader()->setSortIndicator(sortColumn, order);
}

void CorpusTableTab::fitNumberColumns()
{
    // A figure is never cut: a column of numbers widens to its widest (the texts give way).
    const std::shared_ptr<const CorpusTable> table = m_model->table();
    if (!table)
        return;
    QHeaderView *header = m_view->horizontalHeader();
    const QFontMetrics metrics = m_view->fontMetrics();
    const int margin = 2 * (m_view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_view) + 1)
            + metrics.averageCharWidth();
    for (int c = 0; c < table->columnCount(); ++c) {
        if (!table->columns().at(c).isNumber())
            continue;
        const int needed = std::max(metrics.horizontalAdvance(table->widestShownText(c)) + margin, header->sectionSizeHint(c));
        if (header->sectionSize(c) < needed)
            header->resizeSection(c, needed);
    }
}

void CorpusTableTab::sortBy(int column, Qt::SortOrder order)
{
    m_model->sort(column, order);
    const QSignalBlocker block(m_view->horizontalHeader());
    m_view->horizontalHeader()->setSortIndicator(column, order);
}

void CorpusTableTab::copySelectedRows()
{
    if (!m_model->table())
        return;
    std::vector<qint32> rows = selectedRows(m_view);
    if (rows.empty())
        return;
    for (qint32 &r : rows)
        r = m_model->rowAt(r);
    // Tens of thousands of rows take longer to write out than the window may wait.
    QString text;
    const std::shared_ptr<const CorpusTable> table = m_model->table();
    if (rows.size() > 20000)
        runWhileBusy(*window(), [&] {
            text = tableText(*table, rows);
            return true;
        });
    else
        text = tableText(*table, rows);
    QGuiApplication::clipboard()->setText(text);
}

bool CorpusTableTab::exportTo(const QString &path, QString *error)
{
    // The rows as shown now, the table held while they are written off the window's thread.
    const std::shared_ptr<const CorpusTable> table = m_model->table() ? m_model->table() : std::make_shared<CorpusTable>();
    const std::vector<qint32> rows = m_model->table() ? m_model->shownRows() : std::vector<qint32>();
    return runWhileBusy(*window(), [&] { return corvalen::exportTable(*table, rows, path, error); });
}

void CorpusTableTab::exportTable()
{
    if (m_busy)
        return;
    const QString name = askSaveName(m_workbench.prompter(), tr("Export"),
                                     {tr("CSV (*.csv)"), tr("Tab-separated text (*.txt *.tsv)"),
                                      tr("Excel Workbook (*.xlsx)")});
    if (name.isEmpty())
        return;
    m_busy = true;
    QString error;
    const bool saved = exportTo(name, &error);
    m_busy = false;
    if (saved)
        setStatus(tr("%Ln row(s) written to %1.", nullptr, m_model->rowCount()).arg(QFileInfo(name).fileName()));
    else
        m_workbench.prompter().message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
}

} // namespace corvalen
