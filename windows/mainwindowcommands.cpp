// The main window's commands: the toolbar and its dispatch, and adding and removing files.
#include "windows/mainwindow.h"

#include "base/designernames.h"
#include "base/prompter.h"
#include "filelist/folderscan.h"
#include "filelist/scanqueue.h"
#include "windows/commandbars.h"
#include "windows/filelistmodel.h"
#include "windows/resultswindow.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QToolBar>

#include <algorithm>

namespace corvalen {

void MainWindow::createStaticBar()
{
    if (m_toolBar)
        return;
    m_toolBar = createStandardBar(m_ui->CommandBars,
                                  {{command::AddFiles, tr("Add Files"), 100},
                                   {command::AddFolder, tr("Add Folder"), 100},
                                   {command::ClearList, tr("Clear List"), 100},
                                   {command::Start, tr("Start Analyzing"), 100}},
                                  QStringLiteral(":/icons/main"),
                                  [this](int id) { commandBarsExecute(id); });
    fitCommandBars();
}

void MainWindow::commandBarsExecute(int id)
{
    switch (id) {
    case command::AddFiles:
        addFiles();
        break;
    case command::AddFolder:
        addFolder();
        break;
    case command::Start:
        start();
        break;
    case command::ClearList:
        clearList();
        break;
    default:
        break;
    }
}

void MainWindow::help()
{
    if (m_hooks.help)
        m_hooks.help();
}

void MainWindow::start()
{
    if (m_hooks.start)
        m_hooks.start();
}

void MainWindow::clearList()
{
    m_fileList->clear();
}

void MainWindow::addFiles()
{
    const QStringList chosen = m_prompter.openFiles(
            tr("Add File(s) - Hold Ctrl to select multiple files"),
            {tr("Word Documents (*.do*)"), tr("All Files (*)"), tr("Text Files (*.txt)")});
    if (chosen.isEmpty())
        return;
    if (chosen.size() == 1) {
        m_fileList->append(QDir::toNativeSeparators(chosen.constFirst()));
        return;
    }
    QStringList paths;
    for (const QString &file : chosen) {
        const QFileInfo info(file);
        paths << joinPath(QDir::toNativeSeparators(info.path()), info.fileName());
    }
    m_fileList->append(paths);
}

void MainWindow::addFolder()
{
    const std::optional<QString> extension = m_prompter.inputText(
            tr("Enter file extension to load:") + u"\r\r"
                    + tr("(* for all files, txt for all txt files, doc for all doc files, etc.)"),
            Prompter::applicationTitle(), QStringLiteral("doc"));
    if (!extension || extension->isEmpty())
        return;
    const QString folder = m_prompter.pickFolder(tr("Please select folder:"));
    if (folder.isEmpty())
        return;
    // Taken verbatim: "*" gives "*.*" (every file), ".doc" gives "*..doc".
    const QString pattern = u"*." + *extension;
    const QString root = QDir::toNativeSeparators(folder);
    m_scans->enqueue([root, pattern](const ScanQueue::Cancelled &cancelled) {
        return scanFolderTree(root, pattern, cancelled);
    },
                     true);
}

void MainWindow::addDroppedPaths(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    const bool anyFolder = std::any_of(paths.cbegin(), paths.cend(),
                                       [](const QString &p) { return QFileInfo(p).isDir(); });
    if (!anyFolder && m_scans->isIdle()) {
        m_fileList->append(paths);
        return;
    }
    // One job for the whole drop keeps its files and folders in the order dropped.
    m_scans->enqueue(
            [paths](const ScanQueue::Cancelled &cancelled) { return pathsAsDropped(paths, cancelled); },
            false);
}

void MainWindow::clearSelectedFiles()
{
    QList<int> rows;
    const QModelIndexList selected = m_ui->ListView1->selectionModel()->selectedRows();
    for (const QModelIndex &index : selected)
        rows << index.row();
    m_fileList->removeRowsAt(rows);
}

void MainWindow::removeCurrentFile()
{
    const QModelIndex current = m_ui->ListView1->currentIndex();
    if (!current.isValid() || !m_ui->ListView1->selectionModel()->isRowSelected(current.row()))
        return;
    const int row = current.row();
    m_fileList->removeAt(row);
    // The entry that takes its place (or the new last one) becomes the current, selected entry, so
    // that the next Delete goes on without a click.
    const int rows = m_fileList->rowCount();
    if (rows == 0)
        return;
    const QModelIndex next = m_fileList->index(std::min(row, rows - 1), 0);
    m_ui->ListView1->selectionModel()->setCurrentIndex(next, QItemSelectionModel::Select
                                                                     | QItemSelectionModel::Rows);
}

void MainWindow::selectTab(int index)
{
    m_ui->TabControl1->setCurrentIndex(index);
}

void MainWindow::endProgram()
{
    if (m_ending)
        return;
    m_ending = true;
    m_scans->cancelAll();
    if (m_results)
        m_results->hide();
    hide();
    emit programEndRequested();
}

} // namespace corvalen
