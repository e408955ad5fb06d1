#pragma once

#include <QString>

#include <functional>

namespace corvalen {

class Prompter;
class ResultsWindow;

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
    /// Runs work off the window's thread while the window stays responsive; true when it
    /// succeeded, else error holds the reason.
    bool runBusy(const std::function<bool(QString *)> &work, QString *error);

    ResultsWindow &m_window;
    Prompter &m_prompter;
    QString m_lastWorkbook;
    bool m_busy = false;
};

} // namespace corvalen
