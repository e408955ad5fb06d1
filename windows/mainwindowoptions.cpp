// The main window's count options: restored at start-up, stored as they change, and the results
// columns that follow from them.
#include "windows/mainwindow.h"

#include "filelist/settingsstore.h"
#include "windows/resultswindow.h"
#include "windows/wordrulesdialog.h"
#include "ui_mainwindow.h"

namespace corvalen {

void MainWindow::restoreCountOptions()
{
    const StoredCountOptions stored = m_settings->readCountOptions();
    m_ui->Check1->setChecked(stored.check1 == 1);
    // An exclusive pair: checking one clears the other.
    if (stored.option1)
        m_ui->Option1->setChecked(true);
    else
        m_ui->Option2->setChecked(true);
    if (m_ui->Option1->isChecked())
        applyPerFileMode();
    else
        applyCombinedMode();
    m_ui->Check3->setChecked(stored.check3 == 1);
}

void MainWindow::applyPerFileMode()
{
    m_settings->writeModes(m_ui->Option1->isChecked(), m_ui->Option2->isChecked());
    m_ui->Check1->setEnabled(true);
    resetResultsColumns();
}

void MainWindow::applyCombinedMode()
{
    m_settings->writeModes(m_ui->Option1->isChecked(), m_ui->Option2->isChecked());
    m_ui->Check1->setEnabled(false); // keeps its state for a return to per-file mode
    resetResultsColumns();
}

void MainWindow::onCheck1Changed(bool ticked)
{
    m_settings->writeCheck1(ticked);
    if (m_ui->Option1->isChecked())
        resetResultsColumns();
}

void MainWindow::onCheck3Changed(bool ticked)
{
    m_settings->writeCheck3(ticked);
}

WordRulesDialog *MainWindow::wordRules()
{
    auto *dialog = new WordRulesDialog(*m_settings, m_prompter, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return dialog;
}

void MainWindow::ensureResultsWindow()
{
    if (!m_results) {
        m_results = std::make_unique<ResultsWindow>(this);
        connect(m_results.get(), &ResultsWindow::closed, this, &MainWindow::endProgram);
    }
}

void MainWindow::resetResultsColumns()
{
    ensureResultsWindow();
    m_results->setColumns(resultColumns(countOptions()));
}

CountOptions MainWindow::countOptions() const
{
    CountOptions o;
    o.mode = m_ui->Option2->isChecked() ? CountMode::Combined : CountMode::PerFile;
    o.withFileName = m_ui->Check1->isChecked();
    o.ignoreCase = m_ui->Check3->isChecked();
    o.rules = wordRulesFromStored(m_settings->readWordRules());
    // The range costs little and only the explorer shows it.
    o.fileRange = o.mode == CountMode::Combined;
    return o;
}

} // namespace corvalen
