#pragma once

#include "base/prompter.h"

class QWidget;

namespace corvalen {

/// The real dialogs and message boxes behind the Prompter interface.
class QtPrompter : public Prompter
{
public:
    /// parent owns the dialogs (may change as windows come and go).
    void setParentWidget(QWidget *parent) { m_parent = parent; }

    void message(const QString &text, const QString &title, Icon icon) override;
    bool askYesNo(const QString &text, const QString &title, bool yesIsDefault) override;
    std::optional<QString> inputText(const QString &prompt, const QString &title,
                                     const QString &proposal) override;
    QStringList openFiles(const QString &title, const QStringList &filters) override;
    QString saveFile(const QString &title, const QStringList &filters) override;
    QString pickFolder(const QString &title) override;
    bool openUrl(const QUrl &url) override;
    /// The same dialogs with window (a QWidget) as their parent.
    std::unique_ptr<Prompter> forWindow(QObject *window) override;

private:
    QWidget *m_parent = nullptr;
};

} // namespace corvalen
