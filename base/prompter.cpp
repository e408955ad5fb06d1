#include "base/prompter.h"

namespace corvalen {

namespace {

// For prompters that have no windows to put their questions over.
class ForwardingPrompter : public Prompter
{
public:
    explicit ForwardingPrompter(Prompter &to) : m_to(to) { }

    void message(const QString &text, const QString &title, Icon icon) override { m_to.message(text, title, icon); }
    bool askYesNo(const QString &text, const QString &title, bool yesIsDefault) override
    {
        return m_to.askYesNo(text, title, yesIsDefault);
    }
    std::optional<QString> inputText(const QString &prompt, const QString &title, const QString &proposal) override
    {
        return m_to.inputText(prompt, title, proposal);
    }
    QStringList openFiles(const QString &title, const QStringList &filters) override
    {
        return m_to.openFiles(title, filters);
    }
    QString saveFile(const QString &title, const QStringList &filters) override { return m_to.saveFile(title, filters); }
    QString pickFolder(const QString &title) override { return m_to.pickFolder(title); }
    bool openUrl(const QUrl &url) override { return m_to.openUrl(url); }

private:
    Prompter &m_to;
};

} // namespace

std::unique_ptr<Prompter> Prompter::forWindow(QObject *)
{
    return std::make_unique<ForwardingPrompter>(*this);
}

QString Prompter::applicationTitle()
{
    return QStringLiteral("Corvalen");
}

} // namespace corvalen
