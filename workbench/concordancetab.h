#pragma once

#include "corpus/concordance.h"
#include "workbench/workbenchtab.h"

#include <QList>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace corvalen {

class ConcordanceModel;
struct WorkbenchQuery;

/// "Concordance": every hit of a query in its context, one line each, as the search finds them
/// (off the window's thread, with a progress bar and Stop), sorted by up to three levels with the
/// words at the sort positions coloured; a double click shows the hit in its file. Copy and
/// Save take the lines as shown.
class ConcordanceTab : public WorkbenchTab
{
    Q_OBJECT

public:
    explicit ConcordanceTab(Workbench &workbench, QWidget *parent = nullptr);

    QString title() const override { return tr("Concordance"); }
    QWidget *searchField() const override;
    bool isBusy() const override { return m_busy; }

    /// Searches for what the fields say (Enter in the search field, "Search"); false, with the
    /// reason shown, for an invalid query.
    bool search();
    /// Takes a query into the fields and searches for it.
    void searchFor(const WorkbenchQuery &query);
    void stop();
    /// The sort levels, as the three lists choose them.
    void setSortKeys(const QList<SortKey> &keys);
    QList<SortKey> sortKeys() const;

    /// "Copy": the selected lines, in the order shown, tab-separated.
    void copySelectedLines();
    /// "Save...": asks for a file and writes every line to it.
    void save();
    /// Writes every line, in the order shown, as UTF-8 text; false with error naming the file.
    bool saveTo(const QString &path, QString *error);

    ConcordanceModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    QLineEdit *searchEdit() const { return m_search; }
    QComboBox *modeBox() const { return m_mode; }
    QCheckBox *matchCaseBox() const { return m_matchCase; }
    QSpinBox *widthBox() const { return m_width; }
    QComboBox *sortBox(int level) const { return m_sort[level]; }
    QPushButton *stopButton() const { return m_stop; }
    QProgressBar *progressBar() const { return m_progress; }
    QLabel *statusLabel() const { return m_status; }
    /// Says which collocate the lines keep company with (hidden without one), and ends that.
    QLabel *companionLabel() const { return m_companionLabel; }
    QPushButton *allLinesButton() const { return m_allLines; }

signals:
    /// The search ended and its lines are shown in the order chosen.
    void linesShown();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    /// Whether the width is "Fit to window".
    bool fitsWindow() const;
    /// The characters on each side that fill the lines' width in the window as it is now.
    int fittedWidth() const;
    /// The file names' column in lines of a width (pixels).
    int fileColumnWidth(int linesWidth) const;
    void fitLeftColumn();
    void refit();
    void takeQuery();
    void updateStatus();
    void searchEnded(bool stopped);
    void showQueryError(const QString &error);
    void fitColumns();
    void settingsChanged();
    void setCompanion(const QString &word, int left, int right);

    ConcordanceModel *m_model = nullptr;
    QTableView *m_view = nullptr;
    QLineEdit *m_search = nullptr;
    QComboBox *m_mode = nullptr;
    QCheckBox *m_matchCase = nullptr;
    QSpinBox *m_width = nullptr;
    QComboBox *m_sort[3] = {};
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_copy = nullptr;
    QPushButton *m_save = nullptr;
    QLabel *m_companionLabel = nullptr;
    QPushButton *m_allLines = nullptr;
    QTimer *m_refit = nullptr;
    // A collocate's lines: the word and the span, kept while the query stays.
    QString m_companion;
    int m_companionLeft = 0;
    int m_companionRight = 0;
    bool m_stopped = false;
    bool m_busy = false;
    bool m_fitted = false;
};

} // namespace corvalen
