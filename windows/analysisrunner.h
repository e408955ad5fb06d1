#pragma once

#include "base/errorreport.h"
#include "documents/documentengine.h"
#include "engine/analysisjob.h"

#include <QObject>

namespace corvalen {

class DocumentEngineStatus;
class MainWindow;
class Prompter;

/// Shows error reports as the "Application Error" box: warning icon, OK.
class MessageBoxReporter : public ErrorReporter
{
public:
    explicit MessageBoxReporter(Prompter &prompter) : m_prompter(prompter) { }

protected:
    void show(const QString &message, const QString &, const QString &, int) override;

private:
    Prompter &m_prompter;
};

/// The main window's Start: reads and counts the listed files off the window's thread, shows
/// progress, and puts the rows and the total into the results window.
class AnalysisRunner : public QObject
{
    Q_OBJECT

public:
    AnalysisRunner(MainWindow &mainWindow, Prompter &prompter, const DocumentEngineStatus &status,
                   QObject *parent = nullptr);
    ~AnalysisRunner() override;

    /// Refuses an empty list, asks the open-engine question, then starts the run with a
    /// snapshot of the list and the options. Ignored while a run is going.
    void start();
    bool isRunning() const { return m_job.isRunning(); }
    AnalysisJob &job() { return m_job; }
    /// The options and file list of the last run started: what the results window shows.
    const CountOptions &lastOptions() const { return m_options; }
    const QStringList &lastPaths() const { return m_paths; }

signals:
    /// The results window has been filled and shown.
    void runFinished();

private:
    void finish(const ResultTable &table);

    MainWindow &m_main;
    Prompter &m_prompter;
    const DocumentEngineStatus &m_status;
    MessageBoxReporter m_box;
    CrossThreadErrorReporter m_readerReports;
    DocumentEngine m_engine;
    AnalysisJob m_job;
    CountOptions m_options;
    QStringList m_paths;
};

} // namespace corvalen
