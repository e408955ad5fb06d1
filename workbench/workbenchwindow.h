#pragma once

#include "engine/resulttable.h"

#include <QList>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QTabWidget;

namespace corvalen {

class Prompter;
class Workbench;
class WorkbenchTab;

/// "Corpus Workbench": one window of tools over one corpus, a tab each (Word List, Concordance,
/// Plot, File View, Collocates, Clusters, Keywords), under a line that names the corpus, its words and the count's options. A
/// query typed in one tool is the query of the others.
class WorkbenchWindow : public QWidget
{
    Q_OBJECT

public:
    /// A workbench on files with the options in force (a snapshot, as a run takes them). Its word
    /// list comes from workbench().setWordList() or workbench().countWordList().
    WorkbenchWindow(QStringList files, CountOptions options, Prompter &prompter, QWidget *parent = nullptr);
    ~WorkbenchWindow() override;

    Workbench &workbench() const { return *m_workbench; }
    QTabWidget *tabs() const { return m_tabs; }
    QLabel *corpusLine() const { return m_corpusLine; }
    /// The tab of a tool, by its class.
    template<typename Tab>
    Tab *tab() const
    {
        for (WorkbenchTab *t : m_tabList) {
            if (auto *found = qobject_cast<Tab *>(t))
                return found;
        }
        return nullptr;
    }
    void showTab(QWidget *tab);
    /// Ctrl+F: the current tab's search field, or the concordance's.
    void focusSearch();
    /// The workbench over the same files with other options (word rules, letter case): every tab
    /// starts again, the word list is counted anew and the query held is asked again. False while
    /// a tab is busy writing a file.
    bool setOptions(CountOptions options);
    /// "Word Rules...": the workbench's own rules (kept for the next workbench from Tools); when
    /// they changed, the workbench takes them.
    void editWordRules();
    QPushButton *wordRulesButton() const { return m_wordRules; }
    /// Whether a tab is busy (writing a file) and the tabs must stay.
    bool isBusy() const;


    /// The title names the corpus ("emma.txt and 5 more - Corpus Workbench - Corvalen"); a
    /// number above 1 tells another window on the same corpus from it ("emma.txt and 5 more (2)").
    int titleNumber() const { return m_titleNumber; }
    void setTitleNumber(int number);
    /// Puts this window, not shown yet, a step down and to the right of another, so that it does
    /// not open exactly over it (in the screen's corner when that would leave the screen).
    void placeAfter(const QWidget &other);

signals:
    /// setOptions() made a new workbench: workbench() and the tabs are new.
    void optionsChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void build(QStringList files, CountOptions options);
    void updateTitle();

    // Asks over this window, for the workbench and every tab.
    std::unique_ptr<Prompter> m_prompter;
    Workbench *m_workbench = nullptr;
    QLabel *m_corpusLine = nullptr;
    QPushButton *m_wordRules = nullptr;
    QTabWidget *m_tabs = nullptr;
    QList<WorkbenchTab *> m_tabList;
    int m_titleNumber = 1;
};

} // namespace corvalen
