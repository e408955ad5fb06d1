#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

class QDateTime;
class QWidget;

namespace corvalen {

class Prompter;
class ResultTable;
class ResultsWindow;

/// The save-file dialog, then, for an existing file, the question whether to overwrite it. The
/// name chosen, or empty when the dialog was cancelled or the answer was No.
QString askSaveName(Prompter &prompter, const QString &title, const QStringList &filters);

/// Runs work off the window's thread with the busy pointer over window, which keeps painting
/// meanwhile (user input waits); returns what work returned.
bool runWhileBusy(QWidget &window, const std::function<bool()> &work);

/// Removes from tempFolder the folders that earlier spreadsheet exports made there and left for
/// the user, once nothing in them has changed for maxAge: only folders named as this program
/// names them, owned by this user, holding nothing but what an export writes. Returns how many
/// were removed.
int removeOldExportFolders(const QString &tempFolder, const QDateTime &now,
                           std::chrono::seconds maxAge = std::chrono::hours(24));

/// The results window's three exports: "Save Results", "Save Results To Clipboard" and "Save
/// Results As Excel File". The layouts are the UI-free ones the command line uses; this adds
/// the dialogs, messages, pointer and clipboard.
class ResultsExports
{
public:
    ResultsExports(ResultsWindow &window, Prompter &prompter);

    void saveResults();
    void saveClipboard();
    void saveExcel();

    /// Where saveExcel() put its last workbook (tests and the message use it).
    QString lastWorkbook() const { return m_lastWorkbook; }

private:
    using Writer = std::function<bool(const ResultTable &, const QStringList &, QString *)>;
    /// Writes the results off the window's thread, with the busy pointer, while the window keeps
    /// painting; true when it succeeded, else error holds the reason.
    bool runBusy(const Writer &write, QString *error);

    ResultsWindow &m_window;
    Prompter &m_prompter;
    QString m_lastWorkbook;
    bool m_busy = false;
};

} // namespace corvalen
