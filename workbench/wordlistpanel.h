#pragma once

#include "corpus/lexicalvariety.h"
#include "workbench/wordlistindex.h"
#include "workbench/wordlistview.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;

namespace corvalen {

class CorpusJob;
class Prompter;
class WordFinder;
class WordListChart;
class WordListModel;

/// The word list of a workbench: one run's results (a snapshot) to order by any column, search,
/// sum over the files, summarise and plot, and to export as shown. Everything slow happens off
/// the window's thread: the index of the words when it opens, their alphabetical ranks after
/// that, and each search.
class WordListPanel : public QWidget
{
    Q_OBJECT

public:
    WordListPanel(std::shared_ptr<const WordListSnapshot> snapshot, Prompter &prompter,
                   QWidget *parent = nullptr);
    ~WordListPanel() override;

    /// True once the rows are shown (the index is built).
    bool isReady() const { return m_ready; }
    /// True once the statistics and the summed list are there.
    bool hasStatistics() const;
    /// True once every column can be ordered (the alphabetical ranks are known; they come
    /// after the statistics).
    bool canOrderAlphabetically() const;
    /// True while a search runs.
    bool isSearching() const { return m_searching; }

    /// Reads the files of the list again, off the window's thread once the rows are shown, with
    /// the count's rules: for the standardised and moving-average type/token ratios of the
    /// statistics; for a combined count of several files, each file's own statistics and, with
    /// its range, how each word spreads over the files (per million, Juilland's D, DP: columns
    /// after Files). Files that cannot be read give no figures; when none can, nothing is added.
    void measureCorpus(const QStringList &files, std::shared_ptr<const WordFinder> finder);
    /// The ratios, once measured (null before, or when no file could be read).
    const LexicalVarietyResult *variety() const { return m_variety.get(); }
    bool isMeasuring() const;
    /// Whether the measures asked for have all been made (or could not be): corpusMeasured() came.
    bool hasMeasured() const { return m_measured; }

    /// Orders by a column as a click on its header does; the list follows when it can.
    void sortBy(WordListKey key, Qt::SortOrder order);
    WordListKey sortKey() const { return m_sortKey; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    /// The "All files together" switch (per-file results only).
    void setAllFilesTogether(bool on);

    /// "Show in Context": asks for the concordance of the word of a shown row (the current row
    /// when -1) through contextRequested(); false when there is no such row.
    bool showInContext(int shownRow = -1);
    /// While an export writes, the panel must stay.
    bool isBusy() const { return m_busy; }

    /// "Copy": the selected rows, in the order shown, with the columns shown, tab-separated.
    void copySelectedRows();
    /// The statistics as tab-separated text (a line per file, a column per measure, however the
    /// table shows them), and "Copy" of them.
    QString statisticsText() const;
    void copyStatistics();
    /// "Export...": asks for a file and writes the rows as shown.
    void exportView();
    /// Writes the rows and columns as shown to path (see WordListExport): a workbook for .xlsx,
    /// tab-separated text (as Copy writes it) for .txt or .tsv, CSV otherwise. False with error
    /// naming the file and the reason.
    bool exportTo(const QString &path, QString *error);

    WordListModel *model() const { return m_model; }
    QTableView *tableView() const { return m_table; }
    QLineEdit *findField() const { return m_find; }
    QCheckBox *matchCaseBox() const { return m_matchCase; }
    QCheckBox *wholeWordBox() const { return m_wholeWord; }
    QCheckBox *regularExpressionBox() const { return m_regex; }
    QCheckBox *allFilesBox() const { return m_allFiles; }
    QLabel *countLabel() const { return m_countLabel; }
    QTableWidget *statisticsTable() const { return m_statsTable; }
    QLabel *statisticsSummary() const { return m_statsSummary; }
    WordListChart *chart() const { return m_chart; }
    QTabWidget *panels() const { return m_panels; }
    const WordListIndex *index() const { return m_index.get(); }

signals:
    /// The rows are shown for the first time.
    void ready();
    /// The shown rows changed: order, search or switch.
    void rowsShown();
    /// "Show in Context" on a row: its word, as counted.
    void contextRequested(const QString &word);
    /// The files have been read again: the ratios and the dispersion are shown (as far as there
    /// are any).
    void corpusMeasured();

private:
    void buildControls();
    void indexBuilt();
    void summariesBuilt();
    void collationBuilt();
    bool showsAllFilesTogether() const;
    void findChanged();
    void headerClicked(int section, Qt::SortOrder order);
    void reorder();
    void showRows();
    void fitColumns();
    void fillStatistics();
    void fitStatisticsColumns();
    void setStatus(const QString &text);
    void startMeasures();
    void measureFiles();

    std::shared_ptr<const WordListSnapshot> m_snapshot;
    std::shared_ptr<WordListIndex> m_index;
    Prompter &m_prompter;
    WordListModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QLineEdit *m_find = nullptr;
    QCheckBox *m_matchCase = nullptr;
    QCheckBox *m_wholeWord = nullptr;
    QCheckBox *m_regex = nullptr;
    QCheckBox *m_allFiles = nullptr;
    QLabel *m_countLabel = nullptr;
    QLabel *m_status = nullptr;
    QTabWidget *m_panels = nullptr;
    QLabel *m_statsSummary = nullptr;
    QTableWidget *m_statsTable = nullptr;
    WordListChart *m_chart = nullptr;
    QPushButton *m_copy = nullptr;
    QPushButton *m_export = nullptr;

    bool m_ready = false;
    bool m_searching = false;
    bool m_busy = false;
    bool m_allFilesTogether = false;
    WordListKey m_sortKey = WordListKey::Count;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    bool m_orderPending = false; // an alphabetical order waits for the ranks
    std::vector<qint32> m_order; // the list's rows in the current order
    // What the columns' widths were fitted to: these change the columns' contents.
    const WordListRows *m_fittedList = nullptr;
    const WordListDispersion *m_fittedDispersion = nullptr;
    FindQuery m_findQuery; // the search whose result m_matches is
    std::shared_ptr<const std::vector<char>> m_matches; // null: every word
    std::shared_ptr<std::atomic<quint64>> m_searchGeneration;

    // The files read again for the ratios and the dispersion.
    QStringList m_corpusFiles;
    std::shared_ptr<const WordFinder> m_corpusFinder;
    CorpusJob *m_varietyJob = nullptr;
    CorpusJob *m_dispersionJob = nullptr;
    std::shared_ptr<const LexicalVarietyResult> m_variety;
    // Of a combined count of several files, each file's own statistics (none for a file not read).
    std::optional<std::vector<std::optional<WordListStatistics>>> m_fileStatistics;
    QString m_statisticsText; // what Copy of the statistics writes
    bool m_measured = false;
};

} // namespace corvalen
