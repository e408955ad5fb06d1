#include "windows/analysisrunner.h"

#include "base/prompter.h"
#include "documents/availability.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QTreeView>

namespace corvalen {

void MessageBoxReporter::show(const QString &message, const QString &, const QString &, int)
{
    m_prompter.message(message, QCoreApplication::translate("Errors", "Application Error"),
                       Prompter::Icon::Warning);
}

AnalysisRunner::AnalysisRunner(MainWindow &mainWindow, Prompter &prompter,
                               const DocumentEngineStatus &status, QObject *parent)
    : QObject(parent),
      m_main(mainWindow),
      m_prompter(prompter),
      m_status(status),
      m_box(prompter),
      m_readerReports(this, &m_box),
      m_engine(&m_readerReports, &status)
{
    connect(&m_job, &AnalysisJob::progressChanged, this, [this](Phase, int percent) {
        m_main.progressBar()->setValue(std::clamp(percent, 0, 100));
    });
    connect(&m_job, &AnalysisJob::finished, this, &AnalysisRunner::finish);
}

AnalysisRunner::~AnalysisRunner()
{
    m_readerReports.discard();
}

void AnalysisRunner::start()
{
    if (m_job.isRunning())
        return;
    const QStringList paths = m_main.fileList()->paths();
    if (paths.isEmpty()) {
        m_prompter.message(tr("No files added."), Prompter::applicationTitle());
        return;
    }
    // The run counts with the options as they are now: a change while it runs must not mix
    // lower-cased and unchanged words in one result. A stop-word list that cannot be read is
    // named before anything is counted.
    CountOptions options = m_main.countOptions();
    QString rulesError;
    options.finder = WordFinder::create(options.rules, options.ignoreCase, &rulesError);
    if (!options.finder) {
        m_prompter.message(rulesError, Prompter::applicationTitle(), Prompter::Icon::Warning);
        return;
    }
    if (warnWordOpen(m_status, m_prompter))
        return;
    m_options = options;
    m_paths = paths;
    m_main.setCursor(Qt::WaitCursor);
    m_engine.setParagraphs(m_options.rules.paragraphs);
    m_job.start(paths, m_options, &m_engine, &m_box);
}

void AnalysisRunner::finish(const ResultTable &table)
{
    ResultsWindow *results = m_main.resultsWindow();
    ResultsModel *model = results->model();
    // Options changed during the run rebuilt the columns (emptying the list); the rows must
    // stand under the columns of the options they were counted with.
    const QList<ResultColumn> columns = resultColumns(m_options);
    if (model->headers() != resultHeaders(m_options))
        results->setColumns(columns);
    model->appendTable(table);
    results->setWordCount(table.total());
    results->show();
    m_main.hide();
    m_main.unsetCursor();
    m_main.progressBar()->setValue(0);
    results->listView()->setEnabled(true);
    emit runFinished();
}

} // namespace corvalen
