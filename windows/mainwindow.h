#pragma once

#include "engine/resulttable.h"

#include <QWidget>

#include <functional>
#include <memory>

class QProgressBar;
class QTabWidget;
class QToolBar;
class QTreeView;

namespace Ui {
class MainWindow;
}

namespace corvalen {

class FileListModel;
class Prompter;
class ResultsWindow;
class ScanQueue;
class SettingsStore;
class WordRulesDialog;

/// The main window (Form1): the file list and the count options on two tabs, the progress bar,
/// the menus and the toolbar. Its construction is the program's start-up; closing it ends the
/// program.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    /// Work that other parts of the program provide; a missing one does nothing.
    struct Hooks
    {
        std::function<void()> checkWordInstalled; // last step of the start-up
        std::function<void()> start; // the analysis run
        std::function<void()> help;
        std::function<void()> loadSamples;
        std::function<void()> watchDemoVideo;
        std::function<void()> openFaq;
        std::function<void()> openMainPage;
        std::function<void()> corpusWorkbench; // Tools > Corpus Workbench...
    };

    /// Runs the start-up: skin, centring, caption, icon, file-list column, count options (which
    /// create the hidden results window), toolbar, stored tab, installed check. The window is
    /// shown by the caller. skinFolder is where "x/o.cjs" is looked for (the program folder).
    MainWindow(Prompter &prompter, Hooks hooks, const QString &skinFolder,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // Commands
    void commandBarsExecute(int id);
    void createStaticBar();
    void help();
    void clearList();
    void start();
    void addFolder();
    void addFiles();

    /// "Clear Selected Files": removes every selected entry.
    void clearSelectedFiles();
    /// Double-click and Delete: removes the current entry, when there is one and it is selected.
    void removeCurrentFile();
    /// A drop on the file list: files as they are, folders by their tree, in the given order.
    void addDroppedPaths(const QStringList &paths);
    /// Selects a tab (0 "Files", 1 "Options").
    void selectTab(int index);
    /// Options > Word Rules...: opens the dialog (modal to this window) and returns it; it is
    /// deleted when closed.
    WordRulesDialog *wordRules();
    /// Ends the program: both windows close, running scans stop, programEndRequested follows.
    void endProgram();

    /// The options a run works with, read from the controls.
    CountOptions countOptions() const;

    FileListModel *fileList() const { return m_fileList; }
    ResultsWindow *resultsWindow() const { return m_results.get(); }
    QTreeView *listView() const;
    QProgressBar *progressBar() const;
    QTabWidget *tabControl() const;
    QToolBar *toolBar() const { return m_toolBar; }
    ScanQueue *scanQueue() const { return m_scans; }
    bool isSkinned() const { return m_skinned; }

    /// The layout rules of a resize, for a client area of the given size in pixels.
    void layoutControls(const QSize &client);

signals:
    void programEndRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUpFonts();
    void setUpDesignColours();
    void connectControls();
    void restoreCountOptions();
    void applyPerFileMode();
    void applyCombinedMode();
    void resetResultsColumns();
    void onCheck1Changed(bool ticked);
    void onCheck3Changed(bool ticked);
    void ensureResultsWindow();
    void placeOnPage(QWidget *widget, int leftTwips, int topTwips);
    void placeFrameControls();
    void fitCommandBars();

    std::unique_ptr<Ui::MainWindow> m_ui;
    Prompter &m_prompter;
    Hooks m_hooks;
    std::unique_ptr<SettingsStore> m_settings;
    FileListModel *m_fileList = nullptr;
    ScanQueue *m_scans = nullptr;
    QToolBar *m_toolBar = nullptr;
    std::unique_ptr<ResultsWindow> m_results;
    bool m_skinned = false;
    bool m_ending = false;
};

} // namespace corvalen
