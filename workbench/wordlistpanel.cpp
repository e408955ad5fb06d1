#include "workbench/wordlistpanel.h"

#include "base/figures.h"
#include "base/prompter.h"
#include "corpus/worddispersion.h"
#include "engine/wordtally.h"
#include "engine/backgroundtask.h"
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
#include <QDir>
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

#include <algorithm>
#include <cstdlib>

namespace corvalen {

namespace {

constexpr qsizetype kShownTextLength = 200; // longer words are cut in the statistics cells
constexpr int kFileNameChars = 32; // a wider file name column leaves the words too little room
constexpr int kStatisticsColumnChars = 32; // wider texts are cut in a column of the statistics

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
    // A reading of the files that fails (memory, a thread that would not start) leaves its figures
    // out and says why; the next measure still comes, and the panel counts as measured.
    connect(m_varietyJob, &CorpusJob::failed, this, [this](const QString &reason) {
        setStatus(tr("The type/token ratios could not be measured: %1").arg(reason));
        measureFiles();
    });
    connect(m_dispersionJob, &CorpusJob::failed, this, [this](const QString &reason) {
        setStatus(tr("The files' own figures could not be measured: %1").arg(reason));
        m_measured = true;
        emit corpusMeasured();
    });
    buildControls();
    setStatus(tr("Preparing the word list..."));

    auto *watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        indexBuilt();
    });
    watcher->setFuture(runInBackground([index = m_index] { index->build(); }));
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
    m_statsTable->setWordWrap(false);
    m_statsTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_statsTable->verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
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
    watcher->setFuture(runInBackground([index = m_index] { index->buildSummaries(); }));
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
                measureFiles();
            });
}

void WordListPanel::measureFiles()
{
    // A combined count has no figures of its own files: the files read again give them. Only one
    // that keeps its range has the files a spread is over.
    const CountOptions &options = m_snapshot->options;
    const bool perFile = options.mode == CountMode::Combined && m_corpusFiles.size() > 1;
    const bool spread = options.mode == CountMode::Combined && options.fileRange && m_model->hasFilesColumn();
    if (!perFile && !spread) {
        m_measured = true;
        emit corpusMeasured();
        return;
    }
    struct Measured
    {
        std::optional<WordListDispersion> dispersion;
        std::optional<std::vector<std::optional<WordListStatistics>>> files;
    };
    auto measured = std::make_shared<Measured>();
    m_dispersionJob->start(
            [measured, snapshot = m_snapshot, files = m_corpusFiles, finder = m_corpusFinder, perFile,
             spread](const std::atomic<bool> &stop, Progress &progress) {
                const FileWordCounts counts = FileWordCounts::measure(files, finder, &stop, &progress);
                if (stop)
                    return;
                if (perFile)
                    measured->files = fileStatistics(snapshot->table, counts, files.size());
                // A file missing from the parts would make every figure wrong: none then.
                if (spread && counts.failures().empty())
                    measured->dispersion = WordListDispersion::of(snapshot->table, counts);
            },
            [this, measured] {
                if (measured->dispersion) {
                    m_model->setDispersion(std::make_shared<const WordListDispersion>(std::move(*measured->dispersion)));
                    reorder();
                }
                if (measured->files) {
                    m_fileStatistics = std::move(measured->files);
                    if (hasStatistics())
                        fillStatistics();
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
    watcher->setFuture(runInBackground([index = m_index, locale = QLocale()] { index->buildCollation(locale); }));
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
    watcher->setFuture(runInBackground([index = m_index, findQuery, counter = m_searchGeneration, generation] {
        return matchWords(*index, findQuery, [&] { return counter->load() != generation; });
    }));
}

void WordListPanel::fillStatistics()
{
    const bool phrases = m_snapshot->countsPhrases();
    // The measures by their names, as Copy writes them; the table's side shortens the long ones
    // (whole in their tooltips).
    QStringList measures = {tr("Tokens"), tr("Types"), tr("Type/token ratio"), tr("Hapax legomena"), tr("Hapax share"),
                            phrases ? tr("Mean phrase length") : tr("Mean word length"),
                            phrases ? tr("Longest phrase") : tr("Longest word")};
    QStringList shortNames = measures;
    // The ratios that do not fall with a text's length, once the files have been read again.
    if (m_variety) {
        measures << tr("Standardised type/token ratio (1,000 words)") << tr("Moving-average type/token ratio (500 words)");
        shortNames << tr("STTR (1,000 words)") << tr("MATTR (500 words)");
    }
    constexpr int kLongestRow = 6;

    struct Record
    {
        QString label;
        QString tip;
        std::optional<WordListStatistics> statistics; // none: the file could not be read
        std::optional<LexicalVariety> variety;
    };
    // The files in list order, then all files together.
    QList<Record> records;
    std::vector<bool> unread(size_t(m_corpusFiles.size()), false);
    if (m_variety) {
        for (const auto &failure : m_variety->failures)
            unread[size_t(failure.first)] = true;
    }
    const auto varietyOf = [&](qsizetype file, qsizetype files) -> std::optional<LexicalVariety> {
        // A per-file count has one block per listed file, in list order; so have the ratios.
        if (!m_variety || m_variety->files.size() != size_t(files) || unread[size_t(file)])
            return std::nullopt;
        return m_variety->files[size_t(file)];
    };
    if (m_index->perFile()) {
        const QList<WordListStatistics> &files = m_index->fileStatistics();
        for (int i = 0; i < files.size(); ++i)
            records.append({m_index->fileLabels().value(i), m_index->fileLabels().value(i), files.at(i), varietyOf(i, files.size())});
    } else if (m_fileStatistics && m_fileStatistics->size() == size_t(m_corpusFiles.size())) {
        // A combined count of several files: each file's own, from the files read again.
        for (qsizetype i = 0; i < m_corpusFiles.size(); ++i)
            records.append({fileNameFromPath(m_corpusFiles.at(i)), QDir::toNativeSeparators(m_corpusFiles.at(i)),
                            (*m_fileStatistics)[size_t(i)], varietyOf(i, m_corpusFiles.size())});
    }
    records.append({tr("All files"), QString(), m_index->allStatistics(),
                    m_variety ? std::optional(m_variety->all) : std::nullopt});

    // What Copy writes, plain: a line per file, a column per measure. The cells show the numbers
    // as the user's locale writes them.
    const QLocale locale;
    const auto cellsOf = [&](const Record &record, bool plain) {
        QStringList cells;
        if (const std::optional<WordListStatistics> &s = record.statistics) {
            const auto whole = [&](qint64 n) { return plain ? QString::number(n) : locale.toString(n); };
            const auto figure = [&](double v, int decimals) {
                return plain ? fixedFigure(v, decimals) : fixedFigure(locale, v, decimals);
            };
            cells << whole(s->tokens) << whole(s->types) << figure(s->typeTokenRatio(), 4) << whole(s->hapaxLegomena)
                  << figure(100.0 * s->hapaxShare(), 1) + (plain ? QString(u'%') : locale.percent())
                  << figure(s->meanWordLength(), 2) << s->longestWord;
        } else {
            cells << (plain ? QString() : tr("unread")); // as the Plot tab says
            while (cells.size() < kLongestRow + 1)
                cells << QString();
        }
        if (m_variety) {
            // A file that could not be read again has none.
            const std::optional<LexicalVariety> &v = record.variety;
            cells << (!v ? QString() : plain ? fixedFigure(v->standardised, 4) : fixedFigure(locale, v->standardised, 4))
                  << (!v ? QString() : plain ? fixedFigure(v->movingAverage, 4) : fixedFigure(locale, v->movingAverage, 4));
        }
        return cells;
    };
    m_statisticsText = tr("File");
    for (const QString &measure : std::as_const(measures))
        m_statisticsText += u'\t' + measure;
    m_statisticsText += u"\r\n";
    for (const Record &record : std::as_const(records))
        m_statisticsText += record.label + u'\t' + cellsOf(record, true).join(u'\t') + u"\r\n";

    // The table: a row per measure, every one in sight at once; a column per file, all files
    // first, the others to scroll to.
    m_statsTable->clear();
    m_statsTable->setRowCount(int(measures.size()));
    m_statsTable->setColumnCount(int(records.size()));
    for (int m = 0; m < measures.size(); ++m) {
        auto *item = new QTableWidgetItem(shortNames.at(m));
        item->setToolTip(measures.at(m));
        m_statsTable->setVerticalHeaderItem(m, item);
    }
    for (int k = 0; k < records.size(); ++k) {
        const Record &record = records.at(k);
        const int column = k == records.size() - 1 ? 0 : k + 1;
        auto *header = new QTableWidgetItem(record.label);
        header->setToolTip(record.tip);
        m_statsTable->setHorizontalHeaderItem(column, header);
        const QStringList cells = cellsOf(record, false);
        for (int m = 0; m < cells.size(); ++m) {
            QString text = cells.at(m);
            auto *item = new QTableWidgetItem;
            if (m == kLongestRow)
                item->setToolTip(text.left(4 * kShownTextLength)); // the cell may be cut to fit
            if (text.size() > kShownTextLength)
                text = text.left(kShownTextLength - 1) + u'\u2026';
            item->setText(text);
            item->setTextAlignment(m == kLongestRow ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
            m_statsTable->setItem(m, column, item);
        }
    }
    fitStatisticsColumns();
}

void WordListPanel::fitStatisticsColumns()
{
    // Each column as wide as its file's name and its cells, the figures never cut; a longest word
    // or a name beyond a few dozen characters is cut (whole in its tooltip).
    m_statsTable->resizeColumnsToContents();
    QHeaderView *header = m_statsTable->horizontalHeader();
    const QFontMetrics metrics = m_statsTable->fontMetrics();
    const int widest = metrics.averageCharWidth() * kStatisticsColumnChars;
    for (int c = 0; c < m_statsTable->columnCount(); ++c) {
        if (header->sectionSize(c) <= widest)
            continue;
        int figures = 0;
        for (int r = 0; r < m_statsTable->rowCount(); ++r) {
            if (m_statsTable->item(r, c) && m_statsTable->item(r, c)->textAlignment() & Qt::AlignRight)
                figures = std::max(figures, metrics.horizontalAdvance(m_statsTable->item(r, c)->text()));
        }
        header->resizeSection(c, std::max(widest, figures + 2 * metrics.averageCharWidth()));
    }
}

QString WordListPanel::statisticsText() const
{
    return m_statisticsText;
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
