#include "workbench/concordancetab.h"

#include "base/prompter.h"
#include "base/safefile.h"
#include "windows/resultsexports.h"
#include "workbench/concordancemodel.h"
#include "workbench/rowview.h"
#include "workbench/workbench.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace corvalen {

namespace {

constexpr int kHitCharacters = 8; // the hit's column, as the width that fits the window counts it (a word)
constexpr int kRefitDelayMs = 300; // a window being resized settles before its lines are found again

// The sort levels' names, in the order of SortKey.
QStringList sortKeyLabels()
{
    return {u"5L"_qs, u"4L"_qs, u"3L"_qs, u"2L"_qs, u"1L"_qs, QCoreApplication::translate("corvalen::ConcordanceTab", "Hit"),
            u"1R"_qs, u"2R"_qs, u"3R"_qs, u"4R"_qs, u"5R"_qs,
            QCoreApplication::translate("corvalen::ConcordanceTab", "File"),
            QCoreApplication::translate("corvalen::ConcordanceTab", "Position")};
}

} // namespace

ConcordanceTab::ConcordanceTab(Workbench &workbench, QWidget *parent) : WorkbenchTab(workbench, parent)
{
    setObjectName(u"concordanceTab"_qs);
    m_search = new QLineEdit(this);
    m_search->setObjectName(u"concordanceSearch"_qs);
    m_search->setAccessibleName(tr("Search"));
    m_search->setPlaceholderText(tr("A word, th*, colo?r, a phrase ..."));
    m_search->setClearButtonEnabled(true);
    m_mode = new QComboBox(this);
    m_mode->setObjectName(u"searchMode"_qs);
    m_mode->setAccessibleName(tr("Search mode"));
    m_mode->addItem(tr("Words"), int(QueryMode::Words));
    m_mode->addItem(tr("Regular expression"), int(QueryMode::RegularExpression));
    m_mode->setToolTip(tr("Words: * stands for any run of characters, ? for one; several words are a phrase.\n"
                          "Regular expression: each word is an expression that matches a whole counted word."));
    m_matchCase = new QCheckBox(tr("Match case"), this);
    m_matchCase->setObjectName(u"concordanceMatchCase"_qs);
    const bool caseKept = !m_workbench.options().ignoreCase;
    m_matchCase->setEnabled(caseKept);
    if (!caseKept)
        m_matchCase->setToolTip(tr("The count ignores letter case: its words are all lower case."));
    m_width = new QSpinBox(this);
    m_width->setObjectName(u"concordanceWidth"_qs);
    m_width->setAccessibleName(tr("Width"));
    // One step below the fewest characters: the window's width.
    m_width->setRange(ConcordanceRequest::kMinWidth - 1, ConcordanceRequest::kMaxWidth);
    m_width->setSpecialValueText(tr("Fit to window"));
    m_width->setValue(m_width->minimum());
    m_width->setSuffix(tr(" characters"));
    m_width->setKeyboardTracking(false);
    m_width->setToolTip(tr("The characters shown on each side of a hit: as many as the window has room for, or a "
                           "number from %1 to %2.").arg(ConcordanceRequest::kMinWidth).arg(ConcordanceRequest::kMaxWidth));
    m_refit = new QTimer(this);
    m_refit->setSingleShot(true);
    m_refit->setInterval(kRefitDelayMs);
    m_start = new QPushButton(tr("Search"), this);
    m_start->setObjectName(u"startSearch"_qs);
    m_stop = new QPushButton(tr("Stop"), this);
    m_stop->setObjectName(u"stopSearch"_qs);
    m_stop->setEnabled(false);

    const QStringList keyLabels = sortKeyLabels();
    for (int level = 0; level < 3; ++level) {
        QComboBox *box = new QComboBox(this);
        box->setObjectName(u"sortLevel%1"_qs.arg(level + 1));
        box->setAccessibleName(tr("Sort level %1").arg(level + 1));
        for (int k = 0; k < keyLabels.size(); ++k)
            box->addItem(keyLabels.at(k), k);
        box->setCurrentIndex(int(SortKey::Position));
        // Each level in the colour its words take in the lines.
        QPalette palette = box->palette();
        palette.setColor(QPalette::ButtonText, ConcordanceModel::levelColour(level));
        palette.setColor(QPalette::Text, ConcordanceModel::levelColour(level));
        box->setPalette(palette);
        m_sort[level] = box;
    }

    m_model = new ConcordanceModel(m_workbench, this);
    m_view = new QTableView(this);
    m_view->setObjectName(u"concordanceLines"_qs);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new ConcordanceDelegate(m_view));
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setUpRowView(m_view, QAbstractItemView::ExtendedSelection, m_view->fontMetrics().height() + 4);
    m_view->setShowGrid(false);
    m_view->setAlternatingRowColors(true);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setTextElideMode(Qt::ElideNone);
    const QFontMetrics metrics(m_view->font());
    m_view->setColumnWidth(ConcordanceModel::NumberColumn, metrics.horizontalAdvance(u"0000000"_qs));
    m_view->setColumnWidth(ConcordanceModel::FileColumn, metrics.horizontalAdvance(u'x') * 16);
    m_view->setColumnWidth(ConcordanceModel::LeftColumn, metrics.horizontalAdvance(u'x') * (ConcordanceRequest::kDefaultWidth + 1));
    m_view->setColumnWidth(ConcordanceModel::HitColumn, metrics.horizontalAdvance(u'x') * kHitCharacters);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(u"searchProgress"_qs);
    m_progress->setAccessibleName(tr("Search progress"));
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(160);
    m_progress->setTextVisible(false);
    m_status = new QLabel(this);
    m_status->setObjectName(u"concordanceStatus"_qs);
    m_status->setTextFormat(Qt::PlainText);
    m_copy = new QPushButton(tr("Copy"), this);
    m_copy->setObjectName(u"copyLines"_qs);
    m_copy->setToolTip(tr("Copies the selected lines (Ctrl+C)."));
    m_save = new QPushButton(tr("Save..."), this);
    m_save->setObjectName(u"saveLines"_qs);
    m_save->setToolTip(tr("Writes every line, as shown, to a UTF-8 text file, tab-separated."));

    m_companionLabel = new QLabel(this);
    m_companionLabel->setObjectName(u"companionLabel"_qs);
    m_companionLabel->setTextFormat(Qt::PlainText);
    m_allLines = new QPushButton(tr("All Lines"), this);
    m_allLines->setObjectName(u"allLines"_qs);
    m_allLines->setToolTip(tr("Every hit of the query, whatever words are near it."));
    m_companionLabel->hide();
    m_allLines->hide();

    auto *searchLabel = new QLabel(tr("&Search:"), this);
    searchLabel->setBuddy(m_search);
    auto *widthLabel = new QLabel(tr("&Width:"), this);
    widthLabel->setBuddy(m_width);
    auto *top = new QHBoxLayout;
    top->addWidget(searchLabel);
    top->addWidget(m_search, 1);
    top->addWidget(m_mode);
    top->addWidget(m_matchCase);
    top->addSpacing(8);
    top->addWidget(widthLabel);
    top->addWidget(m_width);
    top->addWidget(m_start);
    top->addWidget(m_stop);
    auto *sortBar = new QHBoxLayout;
    auto *sortLabel = new QLabel(tr("S&ort by:"), this);
    sortLabel->setBuddy(m_sort[0]);
    sortBar->addWidget(sortLabel);
    for (QComboBox *box : m_sort)
        sortBar->addWidget(box);
    sortBar->addStretch();
    sortBar->addWidget(m_companionLabel);
    sortBar->addWidget(m_allLines);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_progress);
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_copy);
    bottom->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(sortBar);
    layout->addWidget(m_view, 1);
    layout->addLayout(bottom);

    // Ctrl+C copies lines from the list; in the search field it copies its text as usual.
    auto *copyAction = new QAction(tr("Copy"), m_view);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_view->addAction(copyAction);
    auto *showAction = new QAction(tr("Show in File"), m_view);
    showAction->setObjectName(u"showInFile"_qs);
    m_view->insertAction(copyAction, showAction);
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(m_search, &QLineEdit::returnPressed, this, &ConcordanceTab::search);
    connect(m_start, &QPushButton::clicked, this, &ConcordanceTab::search);
    connect(m_stop, &QPushButton::clicked, this, &ConcordanceTab::stop);
    connect(m_search, &QLineEdit::textEdited, this, [this] {
        m_search->setStyleSheet(QString());
        m_search->setToolTip(QString());
        setCompanion(QString(), 0, 0); // another query: every hit of it
    });
    connect(m_allLines, &QPushButton::clicked, this, [this] {
        setCompanion(QString(), 0, 0);
        search();
    });
    connect(m_mode, &QComboBox::currentIndexChanged, this, &ConcordanceTab::settingsChanged);
    connect(m_matchCase, &QCheckBox::toggled, this, &ConcordanceTab::settingsChanged);
    connect(m_width, &QSpinBox::valueChanged, this, &ConcordanceTab::settingsChanged);
    for (QComboBox *box : m_sort)
        connect(box, &QComboBox::currentIndexChanged, this, [this] {
            m_model->setSortKeys(sortKeys());
            updateStatus();
        });
    connect(copyAction, &QAction::triggered, this, &ConcordanceTab::copySelectedLines);
    connect(m_copy, &QPushButton::clicked, this, &ConcordanceTab::copySelectedLines);
    connect(m_save, &QPushButton::clicked, this, &ConcordanceTab::save);
    const auto showCurrent = [this] {
        const QModelIndex current = m_view->currentIndex();
        if (current.isValid() && !m_workbench.line(m_model->lineOf(current.row())).failed)
            m_workbench.showHit(m_model->lineOf(current.row()));
    };
    connect(m_view, &QTableView::activated, this, showCurrent);
    connect(showAction, &QAction::triggered, this, showCurrent);

    connect(m_model, &ConcordanceModel::orderingStarted, this, &ConcordanceTab::updateStatus);
    connect(m_model, &ConcordanceModel::orderShown, this, [this] {
        updateStatus();
        if (!m_workbench.isSearching())
            emit linesShown();
    });
    connect(m_refit, &QTimer::timeout, this, &ConcordanceTab::refit);
    connect(m_model, &ConcordanceModel::orderShown, &m_workbench, &Workbench::numberingChanged);
    m_workbench.setNumbering([model = QPointer<ConcordanceModel>(m_model)](qsizetype line) -> qsizetype {
        return model ? model->rowOf(line) + 1 : 0;
    });
    m_workbench.setWidthFitter([tab = QPointer<ConcordanceTab>(this)] {
        return tab ? tab->fittedWidth() : ConcordanceRequest::kDefaultWidth;
    });
    connect(&m_workbench, &Workbench::searchStarted, this, [this] {
        takeQuery();
        m_stopped = false;
        m_fitted = false;
        m_stop->setEnabled(true);
        m_progress->setValue(0);
        updateStatus();
    });
    connect(&m_workbench, &Workbench::linesAdded, this, [this] {
        if (!m_fitted)
            fitColumns();
        updateStatus();
    });
    connect(&m_workbench, &Workbench::searchProgress, m_progress, &QProgressBar::setValue);
    connect(&m_workbench, &Workbench::searchFinished, this, &ConcordanceTab::searchEnded);
    connect(&m_workbench, &Workbench::concordanceRequested, this, &ConcordanceTab::searchFor);
    updateStatus();
}

QWidget *ConcordanceTab::searchField() const
{
    return m_search;
}

QList<SortKey> ConcordanceTab::sortKeys() const
{
    QList<SortKey> keys;
    for (QComboBox *box : m_sort)
        keys.append(SortKey(box->currentData().toInt()));
    return keys;
}

void ConcordanceTab::setSortKeys(const QList<SortKey> &keys)
{
    {
        const QSignalBlocker blocks[] = {QSignalBlocker(m_sort[0]), QSignalBlocker(m_sort[1]), QSignalBlocker(m_sort[2])};
        for (int level = 0; level < 3; ++level)
            m_sort[level]->setCurrentIndex(int(level < keys.size() ? keys.at(level) : SortKey::Position));
    }
    m_model->setSortKeys(sortKeys());
    updateStatus();
}

bool ConcordanceTab::fitsWindow() const
{
    return m_width->value() == m_width->minimum();
}

int ConcordanceTab::fileColumnWidth(int linesWidth) const
{
    const QFontMetrics metrics(m_view->font());
    int widest = 0;
    for (const QString &label : m_workbench.fileLabels())
        widest = std::max(widest, metrics.horizontalAdvance(label));
    return std::min(widest + 2 * metrics.averageCharWidth(), std::max(80, linesWidth / 4));
}

int ConcordanceTab::fittedWidth() const
{
    // The tabs' area is this tab's size, and already is when the tab has not been laid out since
    // the window changed (it was not in front). The scroll bar is counted whether it shows or
    // not, so that its coming and going does not change the lines.
    const QWidget *area = parentWidget() ? parentWidget() : this;
    const QMargins margins = layout()->contentsMargins();
    const QFontMetricsF metrics(m_view->font());
    const qreal character = std::max<qreal>(1, metrics.horizontalAdvance(u'x'));
    const int lines = area->width() - margins.left() - margins.right() - 2 * m_view->frameWidth()
            - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_view);
    const qreal available = lines - metrics.horizontalAdvance(u"0000000"_qs) - fileColumnWidth(lines) - character * kHitCharacters;
    return std::clamp(int(available / 2 / character) - 1, ConcordanceRequest::kMinWidth, ConcordanceRequest::kMaxWidth);
}

void ConcordanceTab::resizeEvent(QResizeEvent *event)
{
    WorkbenchTab::resizeEvent(event);
    if (!fitsWindow())
        return;
    if (m_fitted)
        fitLeftColumn();
    // Lines too short for the window are found again once it has its new size; longer ones are
    // cut.
    if (m_workbench.hasQuery() && m_workbench.query().width == WorkbenchQuery::kFitToWindow
        && m_workbench.fittedWidth() > m_workbench.lineWidth())
        m_refit->start();
}

void ConcordanceTab::refit()
{
    if (!fitsWindow() || !m_workbench.hasQuery() || m_workbench.query().width != WorkbenchQuery::kFitToWindow
        || m_workbench.fittedWidth() <= m_workbench.lineWidth())
        return;
    // The query held, not what the field may have been changed to since.
    m_workbench.search(m_workbench.query());
}

void ConcordanceTab::takeQuery()
{
    // A search started from any tool: the fields show its query.
    const WorkbenchQuery &query = m_workbench.query();
    {
        const QSignalBlocker blocks[] = {QSignalBlocker(m_search), QSignalBlocker(m_mode), QSignalBlocker(m_matchCase),
                                         QSignalBlocker(m_width)};
        if (m_search->text() != query.text)
            m_search->setText(query.text);
        m_mode->setCurrentIndex(m_mode->findData(int(query.mode)));
        m_matchCase->setChecked(query.matchCase && m_matchCase->isEnabled());
        m_width->setValue(query.width == WorkbenchQuery::kFitToWindow ? m_width->minimum() : query.width);
    }
    m_search->setStyleSheet(QString());
    m_search->setToolTip(QString());
    setCompanion(query.companion, query.companionLeft, query.companionRight);
}

bool ConcordanceTab::search()
{
    WorkbenchQuery query;
    query.text = m_search->text();
    query.mode = QueryMode(m_mode->currentData().toInt());
    query.matchCase = m_matchCase->isEnabled() && m_matchCase->isChecked();
    query.width = fitsWindow() ? WorkbenchQuery::kFitToWindow : m_width->value();
    query.companion = m_companion;
    query.companionLeft = m_companionLeft;
    query.companionRight = m_companionRight;
    QString error;
    if (!m_workbench.search(query, &error)) {
        showQueryError(error);
        return false;
    }
    m_search->setStyleSheet(QString());
    m_search->setToolTip(QString());
    return true;
}

void ConcordanceTab::searchFor(const WorkbenchQuery &query)
{
    {
        const QSignalBlocker blocks[] = {QSignalBlocker(m_search), QSignalBlocker(m_mode), QSignalBlocker(m_matchCase),
                                         QSignalBlocker(m_width)};
        m_search->setText(query.text);
        m_mode->setCurrentIndex(m_mode->findData(int(query.mode)));
        m_matchCase->setChecked(query.matchCase && m_matchCase->isEnabled());
        m_width->setValue(query.width == WorkbenchQuery::kFitToWindow ? m_width->minimum() : query.width);
    }
    setCompanion(query.companion, query.companionLeft, query.companionRight);
    m_workbench.showTab(this);
    search();
}

void ConcordanceTab::settingsChanged()
{
    // Mode, case and width apply at once to the query searched for.
    if (m_workbench.hasQuery() && !m_search->text().trimmed().isEmpty())
        search();
}

void ConcordanceTab::setCompanion(const QString &word, int left, int right)
{
    m_companion = word;
    m_companionLeft = left;
    m_companionRight = right;
    if (word.isEmpty()) {
        m_companionLabel->hide();
        m_allLines->hide();
        return;
    }
    m_companionLabel->setText(tr("Only the lines with \u201c%1\u201d within %2 to the left and %3 to the right")
                                      .arg(word, tr("%Ln word(s)", nullptr, left), tr("%Ln word(s)", nullptr, right)));
    m_companionLabel->show();
    m_allLines->show();
}

void ConcordanceTab::showQueryError(const QString &error)
{
    // The lines found before stay: the query is for the user to mend.
    m_search->setStyleSheet(u"QLineEdit { background: #ffd6d6; }"_qs);
    m_search->setToolTip(error);
    m_status->setText(error);
}

void ConcordanceTab::stop()
{
    if (!m_workbench.isSearching())
        return;
    m_stopped = true;
    m_workbench.stopSearch();
}

void ConcordanceTab::searchEnded(bool stopped)
{
    m_stopped = m_stopped || stopped;
    m_stop->setEnabled(false);
    if (!stopped)
        m_progress->setValue(100);
    if (m_model->rowCount() > 0 && m_model->rowCount() < 5000)
        fitColumns();
    updateStatus();
    if (!m_model->isOrdering())
        emit linesShown();
}

void ConcordanceTab::fitColumns()
{
    if (m_model->rowCount() == 0)
        return;
    m_fitted = true;
    // The left context and the hit as wide as the first lines need; the right one takes the rest.
    const QFontMetrics metrics(m_view->font());
    m_view->setColumnWidth(ConcordanceModel::FileColumn, fileColumnWidth(m_view->viewport()->width()));
    m_view->resizeColumnToContents(ConcordanceModel::NumberColumn);
    fitLeftColumn();
    int hit = metrics.horizontalAdvance(tr("Hit")) + 16;
    for (int row = 0; row < std::min(m_model->rowCount(), 200); ++row) {
        QFont bold = m_view->font();
        bold.setBold(true);
        hit = std::max(hit, QFontMetrics(bold).horizontalAdvance(m_model->index(row, ConcordanceModel::HitColumn).data().toString()) + 12);
    }
    m_view->setColumnWidth(ConcordanceModel::HitColumn, std::min(hit, metrics.horizontalAdvance(u'x') * 40));
}

void ConcordanceTab::fitLeftColumn()
{
    // Fitting the window, lines made for a wider one are cut to it.
    int width = m_workbench.lineWidth();
    if (fitsWindow() && m_workbench.query().width == WorkbenchQuery::kFitToWindow)
        width = std::min(width, m_workbench.fittedWidth());
    // Measured as a run of characters: one character's width is rounded, and so would the run be.
    m_view->setColumnWidth(ConcordanceModel::LeftColumn, QFontMetrics(m_view->font()).horizontalAdvance(QString(width + 1, u'x')));
}

void ConcordanceTab::updateStatus()
{
    const QLocale locale;
    const qint64 hits = m_workbench.hitCount();
    const QString number = locale.toString(hits);
    QString status;
    if (!m_workbench.hasQuery()) {
        status = tr("Type a word, a pattern or a phrase, and press Enter.");
    } else if (m_workbench.isSearching()) {
        status = tr("Searching... %1 found so far").arg(number);
    } else {
        const QString found = hits == 1 ? tr("1 hit") : tr("%1 hits").arg(number);
        status = m_stopped ? tr("Stopped: %1").arg(found) : found;
        qint32 failed = 0;
        for (qint32 f = 0; f < m_workbench.fileCount(); ++f)
            failed += m_workbench.fileWords(f) < 0 ? 1 : 0;
        if (failed > 0)
            status += u"; "_qs + tr("%Ln file(s) could not be read", nullptr, failed);
        const CorpusQuery *query = m_workbench.parsedQuery();
        if (hits == 0 && query && query->matchesNothing())
            status += u" \u2014 "_qs + tr("the count's rules never give such a word (a stop word, punctuation, "
                                         "a short word, or another number of words than its phrases)");
        if (query && query->givenUpCount() > 0)
            status += u"; "_qs + query->givenUpNote();
    }
    if (m_model->isOrdering())
        status += u"  "_qs + tr("(sorting the lines...)");
    else if (m_workbench.isSearching() && !m_model->sortKeys().isEmpty() && m_model->sortKeys().constFirst() != SortKey::Position)
        status += u"  "_qs + tr("(sorted when the search ends)");
    m_status->setText(status);
    if (m_model->isOrdering())
        m_view->viewport()->setCursor(Qt::BusyCursor);
    else
        m_view->viewport()->unsetCursor();
}

namespace {

// A line as Copy and Save write it: its number as shown, file, left, hit, right.
void appendRow(QString &out, int number, const ConcordanceLine &line, const QStringList &labels)
{
    out += QString::number(number) + u'\t' + labels.value(line.file) + u'\t' + line.left() + u'\t' + line.hit()
            + u'\t' + line.right() + u'\n';
}

} // namespace

void ConcordanceTab::copySelectedLines()
{
    // By ranges, not one index per line: a selection may hold a million lines.
    const std::vector<qint32> rows = selectedRows(m_view);
    if (rows.empty() || m_busy)
        return;
    // The lines themselves stay where they are while a search adds others: a long selection is
    // written out on another thread.
    std::vector<const ConcordanceLine *> lines;
    lines.reserve(rows.size());
    for (const int row : rows)
        lines.push_back(&m_workbench.line(m_model->lineOf(row)));
    const std::shared_ptr<const ConcordanceLines> held = m_workbench.sharedLines();
    const QStringList labels = m_workbench.fileLabels();
    QString text;
    const auto write = [&] {
        for (size_t i = 0; i < lines.size(); ++i)
            appendRow(text, rows[i] + 1, *lines[i], labels);
        return true;
    };
    if (lines.size() < 20000) {
        write();
    } else {
        m_busy = true;
        runWhileBusy(*window(), write);
        m_busy = false;
    }
    QGuiApplication::clipboard()->setText(text);
}

bool ConcordanceTab::saveTo(const QString &path, QString *error)
{
    // The lines as shown now, held while they are written on another thread: a search started
    // meanwhile puts its lines elsewhere.
    const std::shared_ptr<const ConcordanceLines> held = m_workbench.sharedLines();
    std::vector<const ConcordanceLine *> lines;
    lines.reserve(size_t(m_model->rowCount()));
    for (int row = 0; row < m_model->rowCount(); ++row)
        lines.push_back(&m_workbench.line(m_model->lineOf(row)));
    const QStringList labels = m_workbench.fileLabels();
    const auto write = [&](QIODevice &device, QString *) {
        QByteArray block;
        QString text;
        for (size_t i = 0; i < lines.size(); ++i) {
            text.clear();
            appendRow(text, int(i + 1), *lines[i], labels);
            block += text.toUtf8();
            if (block.size() >= (1 << 16)) {
                if (!writeAll(device, block))
                    return false;
                block.clear();
            }
        }
        return writeAll(device, block);
    };
    return runWhileBusy(*window(), [&] { return writeFileSafely(path, write, error); });
}

void ConcordanceTab::save()
{
    if (m_busy)
        return;
    const QString path = askSaveName(m_workbench.prompter(), tr("Save Lines"),
                                     {tr("Text files (*.txt)"), tr("All files (*)")});
    if (path.isEmpty())
        return;
    m_busy = true;
    QString error;
    const bool saved = saveTo(path, &error);
    m_busy = false;
    if (!saved)
        m_workbench.prompter().message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
}

} // namespace corvalen
