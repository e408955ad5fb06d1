#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class QObject;

namespace corvalen {

/// Everything that asks the user goes through this interface: the program passes the real Qt
/// dialogs, tests pass a scripted prompter that checks every expected question was asked.
class Prompter
{
public:
    enum class Icon { None, Information, Warning, Critical, Question };

    virtual ~Prompter() = default;

    /// The application title that titles every box that is not given one of its own.
    static QString applicationTitle();

    /// A message box with an OK button.
    virtual void message(const QString &text, const QString &title, Icon icon = Icon::None) = 0;
    /// A message box with Yes and No; true for Yes.
    virtual bool askYesNo(const QString &text, const QString &title, bool yesIsDefault = true) = 0;
    /// An input box; std::nullopt when cancelled.
    virtual std::optional<QString> inputText(const QString &prompt, const QString &title,
                                             const QString &proposal) = 0;
    /// The open-file dialog with multiple selection. filters are like "Text Files (*.txt)";
    /// the first is in force. Empty when cancelled.
    virtual QStringList openFiles(const QString &title, const QStringList &filters) = 0;
    /// The save-file dialog; empty when cancelled. The name comes back exactly as chosen.
    virtual QString saveFile(const QString &title, const QStringList &filters) = 0;
    /// The folder picker; empty when cancelled.
    virtual QString pickFolder(const QString &title) = 0;
    /// Opens a folder in the file browser, a file in its program or a web address in the
    /// browser; false when nothing could open it.
    virtual bool openUrl(const QUrl &url) = 0;

    /// A prompter whose boxes and dialogs belong to window (a top-level widget, named as a
    /// QObject so that this layer needs no widgets): they stand over it and give the focus back
    /// to it when they close. It asks as this one does and must not outlive it. The default
    /// forwards every call to this prompter unchanged.
    virtual std::unique_ptr<Prompter> forWindow(QObject *window);
};

} // namespace corvalen
