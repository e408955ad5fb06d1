#pragma once

#include "documents/availability.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <memory>

namespace corvalen {

class AnalysisRunner;
class ExplorerWindow;
class HelpCommands;
class MainWindow;
class Prompter;
class ResultsExports;

/// The two windows with every command wired: the start-up check, the analysis run, the exports
/// and the Help menu. The program makes one; tests make their own with a scripted prompter.
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
    /// "Explore Word List...": a new explorer on the results shown now.
    ExplorerWindow *openExplorer();
    /// The explorers still open.
    QList<ExplorerWindow *> explorers() const;

private:
    void closeExplorers();

    Prompter &m_prompter;
    BuiltInEngineStatus m_builtIn;
    const DocumentEngineStatus &m_status;
    std::unique_ptr<HelpCommands> m_help;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<AnalysisRunner> m_runner;
    std::unique_ptr<ResultsExports> m_exports;
    QList<QPointer<ExplorerWindow>> m_explorers;
};

} // namespace corvalen
