#include "app/programwindows.h"

#include "explorer/explorerwindow.h"
#include "explorer/wordlistsnapshot.h"
#include "windows/analysisrunner.h"
#include "windows/helpcommands.h"
#include "windows/mainwindow.h"
#include "windows/resultsexports.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

namespace corvalen {

ProgramWindows::ProgramWindows(Prompter &prompter, const QString &programFolder,
                               const DocumentEngineStatus *status)
    : m_prompter(prompter), m_status(status ? *status : m_builtIn)
{
    // The commands need the window they serve, which the start-up builds: they are made right
    // after it and reached through this object.
    const auto helpCommand = [this](void (HelpCommands::*command)()) {
        return [this, command] {
            if (m_help)
                (m_help.get()->*command)();
        };
    };
    MainWindow::Hooks hooks;
    hooks.checkWordInstalled = [this, &prompter] { checkWordInstalled(m_status, prompter); };
    hooks.start = [this] {
        if (m_runner)
            m_runner->start();
    };
    hooks.help = helpCommand(&HelpCommands::help);
    hooks.loadSamples = helpCommand(&HelpCommands::loadSamples);
    hooks.watchDemoVideo = helpCommand(&HelpCommands::watchDemoVideo);
    hooks.openFaq = helpCommand(&HelpCommands::openFaq);
    hooks.openMainPage = helpCommand(&HelpCommands::openMainPage);

    m_main = std::make_unique<MainWindow>(prompter, hooks, programFolder);
    m_runner = std::make_unique<AnalysisRunner>(*m_main, prompter, m_status);
    m_help = std::make_unique<HelpCommands>(prompter, *m_main->fileList(), programFolder);
    ResultsWindow *results = m_main->resultsWindow();
    m_exports = std::make_unique<ResultsExports>(*results, prompter);
    results->setExports({[this] { m_exports->saveResults(); }, [this] { m_exports->saveExcel(); },
                         [this] { m_exports->saveClipboard(); }});
    results->setExplore([this] { openExplorer(); });
    // Explorers belong to the results: when the program ends they close with it.
    QObject::connect(m_main.get(), &MainWindow::programEndRequested, m_main.get(), [this] { closeExplorers(); });
}

ExplorerWindow *ProgramWindows::openExplorer()
{
    const ResultTable &table = m_main->resultsWindow()->model()->table();
    CountOptions options = m_runner->lastOptions();
    if (options.fileNameColumn() != table.hasFileNameColumn()) {
        // Rows put in without a run: describe them by their columns.
        options.mode = table.hasFileNameColumn() ? CountMode::PerFile : options.mode;
        options.withFileName = table.hasFileNameColumn();
    }
    auto snapshot = std::make_shared<const WordListSnapshot>(makeSnapshot(table, options, m_runner->lastPaths()));
    auto *explorer = new ExplorerWindow(snapshot, m_prompter);
    explorer->setAttribute(Qt::WA_DeleteOnClose);
    m_explorers.append(explorer);
    explorer->show();
    return explorer;
}

QList<ExplorerWindow *> ProgramWindows::explorers() const
{
    QList<ExplorerWindow *> open;
    for (const QPointer<ExplorerWindow> &e : m_explorers) {
        if (e)
            open.append(e.data());
    }
    return open;
}

void ProgramWindows::closeExplorers()
{
    for (ExplorerWindow *e : explorers())
        e->close();
    m_explorers.clear();
}

ProgramWindows::~ProgramWindows()
{
    // The run reports into the windows: stop it before they go.
    m_runner.reset();
    for (ExplorerWindow *e : explorers())
        delete e;
}

} // namespace corvalen
