#pragma once

#include "engine/progress.h"
#include "workbench/corpustable.h"
#include "workbench/workbenchtab.h"

#include <atomic>
#include <functional>
#include <memory>

class QBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace corvalen {

class CorpusJob;
class CorpusTableModel;
struct WorkbenchQuery;

/// What the corpus tools' tabs (collocates, clusters, keywords) share: their settings above a
/// table that orders by any column, the work off the window's thread with a progress bar and
/// Stop, a status line, and Copy (Ctrl+C: the selected rows) and Export... (every row) of the
/// table as shown. A tab builds its settings and says what its table holds.
class CorpusTableTab : public WorkbenchTab
{
    Q_OBJECT

public:
    CorpusTableTab(Workbench &workbench, QWidget *parent = nullptr);
    ~CorpusTableTab() override;

    bool isBusy() const override { return m_busy; }
    /// The tab's own query field (Collocates, Clusters); none: the concordance's.
    QWidget *searchField() const override;

    /// Runs the tool on what it takes now ("Start").
    virtual void start() = 0;
    /// "Stop": the table stays empty.
    void stop();
    bool isRunning() const;

    /// "Copy": the selected rows in the order shown, with the header line, tab-separated.
    void copySelectedRows();
    /// "Export...": asks for a file and writes every row as shown.
    void exportTable();
    /// Writes every row as shown: a workbook for .xlsx, tab-separated text for .txt or .tsv, CSV
    /// otherwise; false with error naming the file.
    bool exportTo(const QString &path, QString *error);

    CorpusTableModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    QPushButton *startButton() const { return m_start; }
    QPushButton *stopButton() const { return m_stop; }
    QProgressBar *progressBar() const { return m_progress; }
    QLabel *statusLabel() const { return m_status; }
    /// The query field, for the tabs that have one (null otherwise).
    QLineEdit *queryField() const { return m_queryField; }
    /// Orders by a column as a click on its header does.
    void sortBy(int column, Qt::SortOrder order);

signals:
    /// A run ended: its table is shown, or it was stopped or could not run.
    void tableShown();

protected:
    /// A query field of the tab's own, kept in step with the workbench's query: it shows the query
    /// searched for last, in any tool, and a query typed in it (Enter) becomes the workbench's
    /// query and runs the tool.
    QLineEdit *createQueryField(const QString &objectName, const QString &placeholder);
    /// Makes what the query field says the workbench's query when it is another (searched for with
    /// the concordance's mode, letter case and width); false, with the reason shown, when it
    /// cannot be searched for.
    bool takeQueryField();
    /// Builds the tab: settings (with startButton() and stopButton() in them) above the table.
    void finishLayout(QBoxLayout *settings, const QList<CorpusTableColumn> &columns);
    /// Runs work off the window's thread; done on the window's thread unless stopped.
    void run(const std::function<void(const std::atomic<bool> &stop, Progress &progress)> &work,
             const std::function<void()> &done);
    /// Shows a table, ordered by a column as the tool orders it (the indicator on it).
    void showTable(std::shared_ptr<const CorpusTable> table, int sortColumn, Qt::SortOrder order = Qt::DescendingOrder);
    void clearTable();
    /// Widens the number columns that would cut a figure of the table shown.
    void fitNumberColumns();
    void setStatus(const QString &text);
    /// A double click (or Enter) on a row of the table.
    virtual void activateRow(qint32 row) = 0;
    /// The tab came to the front.
    virtual void shown() { }
    void showEvent(QShowEvent *event) override;

    CorpusJob *m_job = nullptr;

private:
    CorpusTableModel *m_model = nullptr;
    QTableView *m_view = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_copy = nullptr;
    QPushButton *m_export = nullptr;
    QLineEdit *m_queryField = nullptr;
    bool m_busy = false;
};

/// Whether two queries find the same hits as the tools take them (the width and the companion
/// word are the concordance's own).
bool sameQueryWords(const WorkbenchQuery &a, const WorkbenchQuery &b);

} // namespace corvalen
