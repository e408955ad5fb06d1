#include "app/programwindows.h"

#include "windows/analysisrunner.h"
#include "windows/helpcommands.h"
#include "windows/mainwindow.h"
#include "windows/resultsexports.h"
#include "windows/resultswindow.h"

namespace corvalen {

ProgramWindows::ProgramWindows(Prompter &prompter, const QString &programFolder,
                               const DocumentEngineStatus *status)
    : m_status(status ? *status : m_builtIn)
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
}

ProgramWindows::~ProgramWindows()
{
    // The run reports into the windows: stop it before they go.
    m_runner.reset();
}

} // namespace corvalen
