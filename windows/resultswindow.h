#pragma once

#include "engine/resulttable.h"

#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QTreeView;

namespace Ui {
class ResultsWindow;
}

namespace corvalen {

class ResultsModel;

/// The results window (Form2): the total, the results list and the toolbar that takes the
/// results out of the program or goes back to the main window. Fixed size; closing it ends the
/// program.
class ResultsWindow : public QWidget
{
    Q_OBJECT

public:
    /// The exports, set by whoever provides them; a missing one does nothing.
    struct Exports
    {
        std::function<void()> saveResults;
        std::function<void()> saveExcel;
        std::function<void()> saveClipboard;
    };

    /// mainWindow is the window that Back shows again. Runs the load: colours, centring,
    /// caption, icon, toolbar, label background. Stays hidden until shown.
    explicit ResultsWindow(QWidget *mainWindow, QWidget *parent = nullptr);
    ~ResultsWindow() override;

    void setExports(Exports exports) { m_exports = std::move(exports); }
    /// What "Explore Word List..." opens, set by whoever provides it; none does nothing.
    void setExplore(std::function<void()> explore) { m_explore = std::move(explore); }

    // Commands
    void createStaticBar();
    void saveExcel();
    void saveClipboard();
    void saveResults();
    void back();
    /// The toolbar's dispatch by command id; unknown ids do nothing.
    void commandBarsExecute(int id);
    /// The list's "Copy": the selected rows, in list order, in the clipboard layout.
    void copySelectedRows();
    /// The list's "Explore Word List...".
    void exploreWordList();

    /// Replaces the columns (and so empties the rows), setting each column's width.
    void setColumns(const QList<ResultColumn> &columns);
    /// " Word Count: " followed by the total.
    void setWordCount(qint64 total);

    ResultsModel *model() const { return m_model; }
    QTreeView *listView() const;
    QLabel *label() const;
    QToolBar *toolBar() const { return m_toolBar; }
    /// The list's context menu (right click or the Menu key).
    QMenu *contextMenu() const { return m_contextMenu; }

signals:
    /// The user closed the window: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createContextMenu();

    std::unique_ptr<Ui::ResultsWindow> m_ui;
    ResultsModel *m_model = nullptr;
    QToolBar *m_toolBar = nullptr;
    QWidget *m_mainWindow = nullptr;
    Exports m_exports;
    std::function<void()> m_explore;
    QMenu *m_contextMenu = nullptr;
};

} // namespace corvalen
