#include "workbench/wordlistpanel.h"

#include "base/figures.h"
#include "base/prompter.h"
#include "corpus/worddispersion.h"
#include "workbench/corpusjob.h"
#include "workbench/rowview.h"
#include "workbench/wordlistcharts.h"
#include "workbench/wordlistdispersion.h"
#include "workbench/wordlistexport.h"
#include "workbench/wordlistmodel.h"
#include "windows/resultsexports.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstdlib>

namespace corvalen {

namespace {

constexpr qsizetype kShownTextLength = 200; // longer words are cut in the statistics cells
constexpr int kFileNameChars = 24; // a wider file name column leaves the words too little room

QString ratioText(double value)
{
    return fixedFigure(value, 4);
}

// A header on two lines, broken at the space nearest its middle: the statistics' eight columns
// then fit beside the word table.
QString onTwoLines(QString header)
{
    qsizetype best = -1;
    for (qsizetype i = 0; i < header.size(); ++i) {
        if (header.at(i) == u' ' && (best < 0 || std::abs(i - header.size() / 2) < std::abs(best - header.size() / 2)))
            best = i;
    }
    if (best >= 0)
        header[best] = u'\n';
    return header;
}

constexpr int kFileColumn = 0;
constexpr int kLongestColumn = 7;

} // namespace

WordListPanel::WordListPanel(std::shared_ptr<const WordListSnapshot> snapshot, Prompter &prompter,
                               QWidget *parent)
    : QWidget(parent),
      m_snapshot(std::move(snapshot)),
      m_index(std::make_shared<WordListIndex>(m_snapshot)),
      m_prompter(prompter),
      m_searchGeneration(std::make_shared<std::atomic<quint64>>(0))
{
    setObjectName(u"wordListPanel"_qs);
    m_varietyJob = new CorpusJob(this);
    m_dispersionJob = new CorpusJob(this);
    buildControls();
    setStatus(tr("Preparing the word list..."));

    auto *watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        indexBuilt();
    });
    watcher->setFuture(QtConcurrent::run([index = m_index] { index->build(); }));
}

WordListPanel::~WordListPanel()
{
    ++*m_searchGeneration; // a search still running stops at its next check
}

void WordListPanel::buildControls()
{
    m_find = new QLineEdit(this);
    m_find->setObjectName(u"findWords"_qs);
    const bool phrases = m_snapshot->countsPhrases();
    m_find->setAccessibleName(phrases ? tr("Find phrases") : tr("Find words"));
    m_find->setPlaceholderText(m_find->accessibleName());
    m_find->setClearButtonEnabled(true);
    m_matchCase = new QCheckBox(tr("Match case"), this);
    m_matchCase->setObjectName(u"matchCase"_qs);
    m_wholeWord = new QCheckBox(tr("Whole word"), this);
    m_wholeWord->setObjectName(u"wholeWord"_qs);
    m_wholeWord->setToolTip(tr("The text must match the whole word, not a part of it."));
    m_regex = new QCheckBox(tr("Regular expression"), this);
    m_regex->setObjectName(u"regularExpression"_qs);
    m_countLabel = new QLabel(this);
    m_countLabel->setObjectName(u"wordCount"_qs);
    m_allFiles = new QCheckBox(tr("All files together"), this);
    m_allFiles->setObjectName(u"allFilesTogether"_qs);
    m_allFiles->setToolTip(tr("One row per word with its count summed over the files."));
    m_allFiles->setVisible(m_snapshot->options.mode == CountMode::PerFile);

    auto *findBar = new QHBoxLayout;
    auto *findLabel = new QLabel(tr("&Find:"), this);
    findLabel->setBuddy(m_find);
    findBar->addWidget(findLabel);
    findBar->addWidget(m_find, 1);
    findBar->addWidget(m_matchCase);
    findBar->addWidget(m_wholeWord);
    findBar->addWidget(m_regex);
    findBar->addSpacing(12);
    findBar->addWidget(m_countLabel);
    findBar->addStretch();
    findBar->addWidget(m_allFiles);

    m_model = new WordListModel(this);
    m_table = new QTableView(this);
    m_table->setObjectName(u"wordTable"_qs);
    m_table->setModel(m_model);
    setUpRowView(m_table, QAbstractItemView::ExtendedSelection, m_table->fontMetrics().height() + 6);
    m_table->setAlternatingRowColors(true);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setStretchLastSection(false);
    header->setDefaultSectionSize(160);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &WordListPanel::headerClicked);

    m_statsSummary = new QLabel(this);
    m_statsSummary->setObjectName(u"statisticsSummary"_qs);
    m_statsSummary->setWordWrap(true);
    m_statsSummary->setText(tr("Counted with: %1.").arg(m_snapshot->rules.join(u"; ")));
    m_statsTable = new QTableWidget(this);
    m_statsTable->setObjectName(u"statisticsTable"_qs);
    m_statsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_statsTable->verticalHeader()->hide();
    m_statsTable->setWordWrap(false);
    m_statsTable->viewport()->installEventFilter(this);
    auto *copyStats = new QPushButton(tr("Copy"), this);
    copyStats->setObjectName(u"copyStatistics"_qs);
    connect(copyStats, &QPushButton::clicked, this, &WordListPanel::copyStatistics);
    auto *statsPage = new QWidget(this);
    auto *statsLayout = new QVBoxLayout(statsPage);
    statsLayout->addWidget(m_statsSummary);
    statsLayout->addWidget(m_statsTable, 1);
    auto *statsButtons = new QHBoxLayout;
    statsButtons->addStretch();
    statsButtons->addWidget(copyStats);
    statsLayout->addLayout(statsButtons);

    m_chart = new WordListChart(m_prompter, this);
    m_panels = new QTabWidget(this);
    m_panels->setObjectName(u"wordListPanels"_qs);
    m_panels->addTab(m_chart, tr("Chart"));
    m_panels->addTab(statsPage, tr("Statistics"));

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(m_table);
    splitter->addWidget(m_panels);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setSizes({440, 600});

    m_status = new QLabel(this);
    m_status->setObjectName(u"wordListStatus"_qs);
    m_copy = new QPushButton(tr("Copy"), this);
    m_copy->setObjectName(u"copyRows"_qs);
    m_copy->setToolTip(tr("Copies the selected rows (Ctrl+C)."));
    m_export = new QPushButton(tr("Export..."), this);
    m_export->setObjectName(u"exportView"_qs);
    m_export->setToolTip(tr("Writes the rows as shown to a CSV file, tab-separated text or a workbook."));
    connect(m_copy, &QPushButton::clicked, this, &WordListPanel::copySelectedRows);
    connect(m_export, &QPushButton::clicked, this, &WordListPanel::exportView);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_copy);
    bottom->addWidget(m_export);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(findBar);
    layout->addWidget(splitter, 1);
    layout->addLayout(bottom);

    // Ctrl+C copies rows from the table; in the find field it copies its text as usual.
    auto *copyAction = new QAction(tr("Copy"), m_table);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copyAction, &QAction::triggered, this, &WordListPanel::copySelectedRows);
    m_table->addAction(copyAction);
    // Enter and a double click activate a row: its word in context.
    auto *contextAction = new QAction(tr("Show in Context"), m_table);
    contextAction->setObjectName(u"showInContext"_qs);
    connect(contextAction, &QAction::triggered, this, [this] { showInContext(); });
    m_table->insertAction(copyAction, contextAction);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(m_table, &QTableView::activated, this, [this](const QModelIndex &index) { showInContext(index.row()); });

    connect(m_find, &QLineEdit::textChanged, this, &WordListPanel::findChanged);
    for (QCheckBox *box : {m_matchCase, m_wholeWord, m_regex})
        connect(box, &QCheckBox::toggled, this, &WordListPanel::findChanged);
    connect(m_allFiles, &QCheckBox::toggled, this, &WordListPanel::setAllFilesTogether);

    m_table->setEnabled(false);
    m_copy->setEnabled(false);
    m_export->setEnabled(false);
}

void WordListPanel::setStatus(const QString &text)
{
    m_status->setText(text);
}

bool WordListPanel::canOrderAlphabetically() const
{
    return m_ready && m_index->hasCollation();
}

bool WordListPanel::hasStatistics() const
{
    return m_ready && m_index->hasSummaries();
}

void WordListPanel::indexBuilt()
{
    m_ready = true;
    m_table->setEnabled(true);
    m_copy->setEnabled(true);
    m_export->setEnabled(true);
    setStatus(QString());
    m_chart->setIndex(m_index);
    reorder();
    if (!m_find->text().isEmpty())
        findChanged();
    emit ready();

    // Then, still off the window's thread: the summed list and the statistics, and after them
    // the alphabetical ranks.
    auto *watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        summariesBuilt();
    });
    watcher->setFuture(QtConcurrent::run([index = m_index] { index->buildSummaries(); }));
    startMeasures();
}

void WordListPanel::measureCorpus(const QStringList &files, std::shared_ptr<const WordFinder> finder)
{
    m_corpusFiles = files;
    m_corpusFinder = std::move(finder);
    if (m_ready)
        startMeasures();
}

bool WordListPanel::isMeasuring() const
{
    return m_varietyJob->isRunning() || m_dispersionJob->isRunning();
}

void WordListPanel::startMeasures()
{
    if (!m_corpusFinder || m_corpusFiles.isEmpty() || isMeasuring() || m_variety)
        return;
    // The ratios first (the statistics are in front sooner), then the dispersion: one reading of
    // the files at a time, on both cores.
    auto result = std::make_shared<LexicalVarietyResult>();
    m_varietyJob->start(
            [result, files = m_corpusFiles, finder = m_corpusFinder](const std::atomic<bool> &stop, Progress &progress) {
                *result = measureLexicalVariety(files, finder, &stop, &progress);
            },
            [this, result] {
                if (result->complete && result->failures.size() < size_t(m_corpusFiles.size())) {
                    m_variety = result;
                    if (hasStatistics())
                        fillStatistics();
                }
                measureDispersion();
            });
}

void WordListPanel::measureDispersion()
{
    // Only a combined count that keeps its range has the files a spread is over.
    const CountOptions &options = m_snapshot->options;
    if (options.mode != CountMode::Combined || !options.fileRange || !m_model->hasFilesColumn()) {
        m_measured = true;
        emit corpusMeasured();
        return;
    }
    auto dispersion = std::make_shared<std::optional<WordListDispersion>>();
    m_dispersionJob->start(
            [dispersion, snapshot = m_snapshot, files = m_corpusFiles,
             finder = m_corpusFinder](const std::atomic<bool> &stop, Progress &progress) {
                const FileWordCounts counts = FileWordCounts::measure(files, finder, &stop, &progress);
                // A file missing from the parts would make every figure wrong: none then.
                if (!stop && counts.failures().empty())
                    *dispersion = WordListDispersion::of(snapshot->table, counts);
            },
            [this, dispersion] {
                if (*dispersion) {
                    m_model->setDispersion(std::make_shared<const WordListDispersion>(std::move(**dispersion)));
                    reorder();
                }
                m_measured = true;
                emit corpusMeasured();
            });
}

void WordListPanel::summariesBuilt()
{
    fillStatistics();
    if (m_allFilesTogether)
        reorder();
    auto *watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        collationBuilt();
    });
    watcher->setFuture(QtConcurrent::run([index = m_index, locale = QLocale()] { index->buildCollation(locale); }));
}

bool WordListPanel::showsAllFilesTogether() const
{
    // The summed list is there shortly after the rows; until then the switch waits.
    return m_allFilesTogether && m_index->hasSummaries();
}

void WordListPanel::collationBuilt()
{
    if (m_orderPending) {
        m_orderPending = false;
        unsetCursor();
        setStatus(QString());
        reorder();
    }
}

void WordListPanel::sortBy(WordListKey key, Qt::SortOrder order)
{
    if (key == WordListKey::File && !m_model->hasFileNameColumn())
        return;
    m_sortKey = key;
    m_sortOrder = order;
    if (!m_ready)
        return;
    if (WordListModel::isNumber(key) && key != WordListKey::Count && m_model->columnOf(key) < 0)
        return; // a column this list does not show
    if (!WordListModel::isNumber(key) && !m_index->hasCollation()) {
        // The alphabetical ranks are still being made: the order follows as soon as they are.
        m_orderPending = true;
        setCursor(Qt::BusyCursor);
        setStatus(tr("Ordering..."));
        const QSignalBlocker block(m_table->horizontalHeader());
        m_table->horizontalHeader()->setSortIndicator(m_model->columnOf(key), order);
        return;
    }
    reorder();
}

void WordListPanel::headerClicked(int section, Qt::SortOrder order)
{
    sortBy(m_model->sortKey(section), order);
}

void WordListPanel::setAllFilesTogether(bool on)
{
    if (m_snapshot->options.mode != CountMode::PerFile)
        on = false;
    if (m_allFiles->isChecked() != on) {
        const QSignalBlocker block(m_allFiles);
        m_allFiles->setChecked(on);
    }
    if (on == m_allFilesTogether)
        return;
    m_allFilesTogether = on;
    if (on && m_sortKey == WordListKey::File) {
        m_sortKey = WordListKey::Count;
        m_sortOrder = Qt::DescendingOrder;
    }
    if (m_ready && m_index->hasSummaries())
        reorder();
}

void WordListPanel::reorder()
{
    if (m_orderPending)
        return;
    const WordListRows &list = m_index->rows(showsAllFilesTogether());
    m_order = orderedRows(*m_index, list, m_sortKey, m_sortOrder, m_model->dispersion());
    showRows();
}

void WordListPanel::showRows()
{
    const WordListRows &list = m_index->rows(showsAllFilesTogether());
    std::vector<qint32> rows = m_matches ? filterRows(m_order, list, *m_matches) : m_order;
    const qsizetype shown = qsizetype(rows.size());

    QHeaderView *header = m_table->horizontalHeader();
    QList<int> widths;
    const int columnsBefore = m_model->list() ? m_model->columnCount() : -1;
    for (int c = 0; c < columnsBefore; ++c)
        widths << header->sectionSize(c);
    m_model->setRows(m_index, &list, std::move(rows));
    // The word column takes the room left by the file name and the numbers, whatever the width.
    for (int c = 0; c < m_model->columnCount(); ++c)
        header->setSectionResizeMode(c, m_model->sortKey(c) == WordListKey::Word ? QHeaderView::Stretch : QHeaderView::Interactive);
    // Another order or find keeps the widths (the user's too); other rows or columns are fitted.
    const bool sameColumns = &list == m_fittedList && m_model->dispersion() == m_fittedDispersion
            && columnsBefore == m_model->columnCount();
    if (sameColumns) {
        for (int c = 0; c < widths.size(); ++c)
            header->resizeSection(c, widths.at(c));
    } else {
        fitColumns();
        m_fittedList = &list;
        m_fittedDispersion = m_model->dispersion();
    }
    {
        const QSignalBlocker block(header);
        header->setSortIndicator(m_model->columnOf(m_sortKey), m_sortOrder);
    }
    const QString of = m_snapshot->countsPhrases() ? tr("%1 of %2 phrases") : tr("%1 of %2 words");
    m_countLabel->setText(of.arg(QLocale().toString(shown), QLocale().toString(list.size())));
    emit rowsShown();
}

void WordListPanel::fitColumns()
{
    // The figures are never cut: each column of numbers is as wide as its header and its widest
    // figure, the file names up to a limit; the words take the rest, cut when they must be.
    QHeaderView *header = m_table->horizontalHeader();
    const QFontMetrics metrics = m_table->fontMetrics();
    const int margin = 2 * (m_table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_table) + 1)
            + metrics.averageCharWidth();
    for (int c = 0; c < m_model->columnCount(); ++c) {
        const WordListKey key = m_model->sortKey(c);
        if (key == WordListKey::Word)
            continue;
        int width = metrics.horizontalAdvance(m_model->widestText(c)) + margin;
        if (key == WordListKey::File)
            width = std::min(width, metrics.averageCharWidth() * kFileNameChars);
        header->resizeSection(c, std::max(width, header->sectionSizeHint(c)));
    }
}

void WordListPanel::findChanged()
{
    FindQuery findQuery;
    findQuery.text = m_find->text();
    findQuery.matchCase = m_matchCase->isChecked();
    findQuery.wholeWord = m_wholeWord->isChecked();
    findQuery.regularExpression = m_regex->isChecked();
    const quint64 generation = ++*m_searchGeneration;

    QString error;
    if (!findQuery.isEmpty() && !WordMatcher::make(findQuery, &error)) {
        // The table stays as it was until the expression is valid again.
        m_find->setProperty("invalid", true);
        m_find->setStyleSheet(u"QLineEdit { background: #ffd6d6; }"_qs);
        m_find->setToolTip(tr("Not a valid regular expression: %1").arg(error));
        m_searching = false;
        return;
    }
    m_find->setProperty("invalid", false);
    m_find->setStyleSheet(QString());
    m_find->setToolTip(QString());
    if (!m_ready)
        return;
    if (findQuery.isEmpty()) {
        m_searching = false;
        m_findQuery = findQuery;
        m_matches.reset();
        m_chart->setMatches(nullptr);
        showRows();
        return;
    }
    m_searching = true;
    using Result = std::optional<std::vector<char>>;
    auto *watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcher<Result>::finished, this, [this, watcher, generation, findQuery] {
        watcher->deleteLater();
        Result flags = watcher->result();
        if (generation != m_searchGeneration->load() || !flags)
            return; // a later search replaces this one
        m_searching = false;
        m_findQuery = findQuery;
        m_matches = std::make_shared<const std::vector<char>>(std::move(*flags));
        m_chart->setMatches(m_matches);
        showRows();
    });
    watcher->setFuture(QtConcurrent::run([index = m_index, findQuery, counter = m_searchGeneration, generation] {
        return matchWords(*index, findQuery, [&] { return counter->load() != generation; });
    }));
}

void WordListPanel::fillStatistics()
{
    const bool phrases = m_snapshot->countsPhrases();
    const QStringList fixedColumns = {tr("File"), tr("Tokens"), tr("Types"), tr("Type/token ratio"),
                                 tr("Hapax legomena"), tr("Hapax share"),
                                 phrases ? tr("Mean phrase length") : tr("Mean word length"),
                                 phrases ? tr("Longest phrase") : tr("Longest word")};
    // The ratios that do not fall with a text's length, once the files have been read again.
    QStringList columns = fixedColumns;
    if (m_variety)
        columns << tr("Standardised type/token ratio (1,000 words)") << tr("Moving-average type/token ratio (500 words)");
    QList<QPair<QString, WordListStatistics>> rows;
    // The ratios of each row: a per-file count has one block per listed file, in list order.
    QList<std::optional<LexicalVariety>> varieties;
    std::vector<bool> unread(size_t(m_corpusFiles.size()), false);
    if (m_variety) {
        for (const auto &failure : m_variety->failures)
            unread[size_t(failure.first)] = true;
    }
    if (m_index->perFile()) {
        const QList<WordListStatistics> &files = m_index->fileStatistics();
        const bool matches = m_variety && m_variety->files.size() == size_t(files.size());
        for (int i = 0; i < files.size(); ++i) {
            rows.append({m_index->fileLabels().value(i), files.at(i)});
            varieties.append(matches && !unread[size_t(i)] ? std::optional(m_variety->files[size_t(i)]) : std::nullopt);
        }
    }
    rows.append({tr("All files"), m_index->allStatistics()});
    varieties.append(m_variety ? std::optional(m_variety->all) : std::nullopt);
    m_statsTable->clear();
    m_statsTable->setColumnCount(int(columns.size()));
    for (int c = 0; c < columns.size(); ++c) {
        auto *header = new QTableWidgetItem(onTwoLines(columns.at(c)));
        header->setData(Qt::UserRole, columns.at(c)); // what Copy writes
        m_statsTable->setHorizontalHeaderItem(c, header);
    }
    m_statsTable->setRowCount(int(rows.size()));
    const QLocale locale;
    for (int r = 0; r < rows.size(); ++r) {
        const WordListStatistics &s = rows.at(r).second;
        // What Copy writes, plain; the cells show the numbers as the user's locale writes them.
        QStringList cells = {rows.at(r).first,
                                   QString::number(s.tokens),
                                   QString::number(s.types),
                                   ratioText(s.typeTokenRatio()),
                                   QString::number(s.hapaxLegomena),
                                   fixedFigure(100.0 * s.hapaxShare(), 1) + u'%',
                                   fixedFigure(s.meanWordLength(), 2),
                                   s.longestWord};
        QStringList shown = {rows.at(r).first,
                                   locale.toString(s.tokens),
                                   locale.toString(s.types),
                                   fixedFigure(locale, s.typeTokenRatio(), 4),
                                   locale.toString(s.hapaxLegomena),
                                   fixedFigure(locale, 100.0 * s.hapaxShare(), 1) + locale.percent(),
                                   fixedFigure(locale, s.meanWordLength(), 2),
                                   s.longestWord};
        if (m_variety) {
            // A file that could not be read again has none.
            const std::optional<LexicalVariety> &v = varieties.at(r);
            cells << (v ? ratioText(v->standardised) : QString()) << (v ? ratioText(v->movingAverage) : QString());
            shown << (v ? fixedFigure(locale, v->standardised, 4) : QString())
                  << (v ? fixedFigure(locale, v->movingAverage, 4) : QString());
        }
        for (int c = 0; c < cells.size(); ++c) {
            QString text = shown.at(c);
            auto *item = new QTableWidgetItem;
            if (c == kFileColumn || c == kLongestColumn)
                item->setToolTip(text.left(4 * kShownTextLength)); // the cell may be cut to fit
            if (text.size() > kShownTextLength)
                text = text.left(kShownTextLength - 1) + u'\u2026';
            item->setText(text);
            item->setData(Qt::UserRole, cells.at(c));
            if (c != kFileColumn && c != kLongestColumn)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_statsTable->setItem(r, c, item);
        }
    }
    fitStatisticsColumns();
}

void WordListPanel::fitStatisticsColumns()
{
    QHeaderView *header = m_statsTable->horizontalHeader();
    if (header->count() == 0)
        return;
    m_statsTable->resizeColumnsToContents();
    const int available = m_statsTable->viewport()->width();
    int excess = header->length() - available;
    if (excess <= 0) {
        header->resizeSection(kLongestColumn, header->sectionSize(kLongestColumn) - excess);
        return;
    }
    // The numbers keep their width; the file names and the longest words give up what is
    // missing, down to a few characters (their cells' tooltips hold them whole).
    const int least = m_statsTable->fontMetrics().averageCharWidth() * 8;
    const int spare = std::max(0, header->sectionSize(kFileColumn) - least)
            + std::max(0, header->sectionSize(kLongestColumn) - least);
    if (spare == 0)
        return;
    for (const int c : {kFileColumn, kLongestColumn}) {
        const int own = std::max(0, header->sectionSize(c) - least);
        const int cut = std::min(own, int((qint64(excess) * own + spare - 1) / spare));
        header->resizeSection(c, header->sectionSize(c) - cut);
    }
}

bool WordListPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_statsTable->viewport() && event->type() == QEvent::Resize)
        fitStatisticsColumns();
    return QWidget::eventFilter(watched, event);
}

QString WordListPanel::statisticsText() const
{
    QString text;
    for (int c = 0; c < m_statsTable->columnCount(); ++c)
        text += (c ? u"\t" : u"") + m_statsTable->horizontalHeaderItem(c)->data(Qt::UserRole).toString();
    text += u"\r\n";
    for (int r = 0; r < m_statsTable->rowCount(); ++r) {
        for (int c = 0; c < m_statsTable->columnCount(); ++c)
            text += (c ? u"\t" : u"") + m_statsTable->item(r, c)->data(Qt::UserRole).toString();
        text += u"\r\n";
    }
    return text;
}

void WordListPanel::copyStatistics()
{
    if (m_ready)
        QGuiApplication::clipboard()->setText(statisticsText());
}

bool WordListPanel::showInContext(int shownRow)
{
    if (shownRow < 0)
        shownRow = m_table->currentIndex().row();
    const ResultTable *table = m_model->table();
    if (!m_ready || !table || shownRow < 0 || shownRow >= m_model->rowCount())
        return false;
    const qint32 row = m_model->shownRows()[size_t(shownRow)];
    emit contextRequested(table->word(row));
    return true;
}

void WordListPanel::copySelectedRows()
{
    if (!m_ready || !m_model->table())
        return;
    const std::vector<qint32> positions = selectedRows(m_table);
    if (positions.empty())
        return;
    const std::vector<qint32> &shown = m_model->shownRows();
    std::vector<qint32> rows;
    rows.reserve(positions.size());
    for (qint32 p : positions)
        rows.push_back(shown[size_t(p)]);
    QGuiApplication::clipboard()->setText(WordListExport(*m_model, std::move(rows)).text());
}

bool WordListPanel::exportTo(const QString &path, QString *error)
{
    // The rows and columns as shown now, held while they are written off the window's thread.
    const WordListExport rows(*m_model, m_model->shownRows());
    return runWhileBusy(*this, [&] { return rows.exportTo(path, error); });
}

void WordListPanel::exportView()
{
    if (!m_ready || m_busy)
        return;
    const QString name = askSaveName(m_prompter, tr("Export"),
                                     {tr("CSV (*.csv)"), tr("Tab-separated text (*.txt *.tsv)"),
                                      tr("Excel Workbook (*.xlsx)")});
    if (name.isEmpty())
        return;
    m_busy = true;
    QString error;
    const bool saved = exportTo(name, &error);
    m_busy = false;
    if (saved)
        setStatus(tr("%Ln row(s) written to %1.", nullptr, int(m_model->rowCount())).arg(QFileInfo(name).fileName()));
    else
        m_prompter.message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
}

} // namespace corvalen
