#pragma once

#include "engine/resulttable.h"

#include <QList>
#include <QWidget>

class QLabel;
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

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Workbench *m_workbench = nullptr;
    QLabel *m_corpusLine = nullptr;
    QTabWidget *m_tabs = nullptr;
    QList<WorkbenchTab *> m_tabList;
};

} // namespace corvalen
