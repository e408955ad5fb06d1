#pragma once

#include "base/prompter.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <optional>

/// A prompter for tests: holds the prompts a test expects, in order, with the answers to give,
/// records every call, and reports an unexpected prompt, a prompt with other texts than
/// expected, and an expected prompt that never came.
class ScriptedPrompter : public corvalen::Prompter
{
public:
    enum class Kind { Message, YesNo, Input, OpenFiles, SaveFile, PickFolder, OpenUrl };

    struct Call
    {
        Kind kind = Kind::Message;
        QString text; // message, question or prompt; the URL for OpenUrl
        QString title;
        QStringList filters; // file dialogs
        QString proposal; // input box
        Icon icon = Icon::None;
        /// The window the prompt was put over: the one given to forWindow(), or null.
        const QObject *window = nullptr;
    };

    // Expectations, answered in the order given. Titles default to the application title; a
    // null text (or URL) matches any, for texts the test checks afterwards through calls().
    void expectMessage(const QString &text, Icon icon = Icon::None,
                       const QString &title = applicationTitle());
    void expectYesNo(const QString &text, bool answer, const QString &title = applicationTitle());
    void expectInput(const QString &prompt, const QString &proposal,
                     std::optional<QString> answer, const QString &title = applicationTitle());
    void expectOpenFiles(const QString &title, const QStringList &filters,
                         const QStringList &answer);
    void expectSaveFile(const QString &title, const QStringList &filters, const QString &answer);
    void expectPickFolder(const QString &title, const QString &answer);
    void expectOpenUrl(const QUrl &url, bool answer);

    /// Every call made so far, expected or not.
    const QList<Call> &calls() const { return m_calls; }
    /// Empty when every expected prompt came, in order, and nothing else did; otherwise what
    /// went wrong.
    QString problems() const;
    bool isSatisfied() const { return problems().isEmpty(); }
    /// Forgets expectations, calls and problems.
    void reset();

    void message(const QString &text, const QString &title, Icon icon) override;
    bool askYesNo(const QString &text, const QString &title, bool yesIsDefault) override;
    std::optional<QString> inputText(const QString &prompt, const QString &title,
                                     const QString &proposal) override;
    QStringList openFiles(const QString &title, const QStringList &filters) override;
    QString saveFile(const QString &title, const QStringList &filters) override;
    QString pickFolder(const QString &title) override;
    bool openUrl(const QUrl &url) override;
    /// Asks through this script, each call recording window.
    std::unique_ptr<Prompter> forWindow(QObject *window) override;

private:
    struct Expectation
    {
        Call call;
        bool yes = false;
        std::optional<QString> input;
        QStringList files;
        QString path;
    };

    /// Records the call and returns the matching expectation, or nullopt (and a problem).
    std::optional<Expectation> take(const Call &call);

    QList<Expectation> m_expected;
    // A prompter for a window asks through the script it was made from.
    ScriptedPrompter *m_script = nullptr;
    const QObject *m_window = nullptr;
    QList<Call> m_calls;
    QStringList m_problems;
};
