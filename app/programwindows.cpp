#include "app/programwindows.h"

#include "base/prompter.h"
#include "filelist/settingsstore.h"
#include "windows/analysisrunner.h"
#include "windows/filelistmodel.h"
#include "windows/helpcommands.h"
#include "windows/mainwindow.h"
#include "windows/resultsexports.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"
#include "windows/wordrulesdialog.h"
#include "workbench/wordlistsnapshot.h"
#include "workbench/workbench.h"
#include "workbench/workbenchwindow.h"

#include <QCoreApplication>
#include <QTabWidget>

#include <algorithm>

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
    hooks.corpusWorkbench = [this] { openWorkbench(); };

    m_main = std::make_unique<MainWindow>(prompter, hooks, programFolder);
    m_runner = std::make_unique<AnalysisRunner>(*m_main, prompter, m_status);
    m_help = std::make_unique<HelpCommands>(prompter, *m_main->fileList(), programFolder);
    ResultsWindow *results = m_main->resultsWindow();
    // The results window's dialogs stand over it, not over the main window it hides.
    m_resultsPrompter = prompter.forWindow(results);
    m_exports = std::make_unique<ResultsExports>(*results, *m_resultsPrompter);
    results->setExports({[this] { m_exports->saveResults(); }, [this] { m_exports->saveExcel(); },
                         [this] { m_exports->saveClipboard(); }});
    results->setExplore([this] { exploreResults(); });
    // Workbenches belong to the program's windows: when the program ends they close with it.
    QObject::connect(m_main.get(), &MainWindow::programEndRequested, m_main.get(), [this] { closeWorkbenches(); });
}

WorkbenchWindow *ProgramWindows::openWorkbench()
{
    const QStringList files = m_main->fileList()->paths();
    if (files.isEmpty()) {
        m_prompter.message(QCoreApplication::translate("corvalen::ProgramWindows", "No files added."),
                           Prompter::applicationTitle());
        return nullptr;
    }
    // The count mode and file names as the main window has them; the word rules and letter case
    // the workbench's own (corpus words and blank-line paragraphs until changed in it). A
    // stop-word list that cannot be read is named before anything opens.
    CountOptions options = m_main->countOptions();
    const SettingsStore workbenchSettings(RulesScope::Workbench);
    options.rules = wordRulesFromStored(workbenchSettings.readWordRules());
    options.ignoreCase = workbenchSettings.readWorkbenchIgnoresCase();
    QString rulesError;
    options.finder = WordFinder::create(options.rules, options.ignoreCase, &rulesError);
    if (!options.finder) {
        m_prompter.message(rulesError, Prompter::applicationTitle(), Prompter::Icon::Warning);
        return nullptr;
    }
    auto *window = new WorkbenchWindow(files, options, m_prompter);
    window->workbench().countWordList();
    return showWorkbench(window);
}

WorkbenchWindow *ProgramWindows::exploreResults()
{
    const ResultTable &table = m_main->resultsWindow()->model()->table();
    CountOptions options = m_runner->lastOptions();
    if (options.fileNameColumn() != table.hasFileNameColumn()) {
        // Rows put in without a run: describe them by their columns.
        options.mode = table.hasFileNameColumn() ? CountMode::PerFile : options.mode;
        options.withFileName = table.hasFileNameColumn();
    }
    const QStringList files = m_runner->lastPaths();
    auto *window = new WorkbenchWindow(files, options, m_prompter);
    window->workbench().setWordList(std::make_shared<const WordListSnapshot>(makeSnapshot(table, options, files)));
    return showWorkbench(window);
}

WorkbenchWindow *ProgramWindows::showWorkbench(WorkbenchWindow *window)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->tabs()->setCurrentIndex(0); // the Word List
    const QList<WorkbenchWindow *> open = workbenches();
    if (!open.isEmpty())
        window->placeAfter(*open.constLast());
    // Another window on the same corpus: the lowest number none of them has.
    for (int number = 1;; ++number) {
        const bool taken = std::any_of(open.cbegin(), open.cend(), [&](const WorkbenchWindow *w) {
            return w->titleNumber() == number && w->workbench().corpusName() == window->workbench().corpusName();
        });
        if (!taken) {
            window->setTitleNumber(number);
            break;
        }
    }
    m_workbenches.append(window);
    window->show();
    return window;
}

QList<WorkbenchWindow *> ProgramWindows::workbenches() const
{
    QList<WorkbenchWindow *> open;
    for (const QPointer<WorkbenchWindow> &w : m_workbenches) {
        if (w)
            open.append(w.data());
    }
    return open;
}

void ProgramWindows::closeWorkbenches()
{
    for (WorkbenchWindow *w : workbenches())
        w->close();
    m_workbenches.clear();
}

ProgramWindows::~ProgramWindows()
{
    // The run reports into the windows: stop it before they go.
    m_runner.reset();
    for (WorkbenchWindow *w : workbenches())
        delete w;
}

} // namespace corvalen
