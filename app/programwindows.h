#pragma once

#include "documents/availability.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <memory>

namespace corvalen {

class AnalysisRunner;
class HelpCommands;
class MainWindow;
class Prompter;
class ResultsExports;
class WorkbenchWindow;

/// The two windows with every command wired: the start-up check, the analysis run, the exports,
/// the Help menu and the workbenches. The program makes one; tests make their own with a scripted
/// prompter.
class ProgramWindows
{
public:
    /// status decides what the availability checks see (the built-in engine when null).
    ProgramWindows(Prompter &prompter, const QString &programFolder,
                   const DocumentEngineStatus *status = nullptr);
    ~ProgramWindows();

    MainWindow &mainWindow() { return *m_main; }
    AnalysisRunner &runner() { return *m_runner; }
    ResultsExports &exports() { return *m_exports; }
    HelpCommands &helpCommands() { return *m_help; }
    Prompter &prompter() { return m_prompter; }
    /// Tools > Corpus Workbench...: a workbench on the files in the list with the options in
    /// force, which counts them itself. Null, after saying why, when the list is empty or the
    /// word rules cannot be made ready.
    WorkbenchWindow *openWorkbench();
    /// "Explore Word List...": a workbench on the run shown, its rows in the Word List tab.
    WorkbenchWindow *exploreResults();
    /// The workbenches still open.
    QList<WorkbenchWindow *> workbenches() const;

private:
    WorkbenchWindow *showWorkbench(WorkbenchWindow *window);
    void closeWorkbenches();

    Prompter &m_prompter;
    BuiltInEngineStatus m_builtIn;
    const DocumentEngineStatus &m_status;
    std::unique_ptr<HelpCommands> m_help;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<AnalysisRunner> m_runner;
    std::unique_ptr<Prompter> m_resultsPrompter;
    std::unique_ptr<ResultsExports> m_exports;
    QList<QPointer<WorkbenchWindow>> m_workbenches;
};

} // namespace corvalen
