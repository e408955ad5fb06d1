#include "support/scriptedprompter.h"

namespace {

QString kindName(ScriptedPrompter::Kind kind)
{
    switch (kind) {
    case ScriptedPrompter::Kind::Message:
        return QStringLiteral("message");
    case ScriptedPrompter::Kind::YesNo:
        return QStringLiteral("yes/no question");
    case ScriptedPrompter::Kind::Input:
        return QStringLiteral("input box");
    case ScriptedPrompter::Kind::OpenFiles:
        return QStringLiteral("open-file dialog");
    case ScriptedPrompter::Kind::SaveFile:
        return QStringLiteral("save-file dialog");
    case ScriptedPrompter::Kind::PickFolder:
        return QStringLiteral("folder picker");
    case ScriptedPrompter::Kind::OpenUrl:
        return QStringLiteral("open URL");
    }
    return {};
}

QString describe(const ScriptedPrompter::Call &c)
{
    QString s = kindName(c.kind) + u" \"" + c.text + u"\" titled \"" + c.title + u'"';
    if (!c.filters.isEmpty())
        s += u" filters [" + c.filters.join(u" | ") + u']';
    if (c.kind == ScriptedPrompter::Kind::Input)
        s += u" proposing \"" + c.proposal + u'"';
    if (c.kind == ScriptedPrompter::Kind::Message)
        s += u" icon " + QString::number(int(c.icon));
    return s;
}

// expected's text may be null: any text then matches (the test checks it from calls()).
bool same(const ScriptedPrompter::Call &expected, const ScriptedPrompter::Call &b)
{
    return expected.kind == b.kind && (expected.text.isNull() || expected.text == b.text)
            && expected.title == b.title && expected.filters == b.filters
            && expected.proposal == b.proposal && expected.icon == b.icon;
}

} // namespace

void ScriptedPrompter::expectMessage(const QString &text, Icon icon, const QString &title)
{
    Expectation e;
    e.call = {Kind::Message, text, title, {}, {}, icon};
    m_expected << e;
}

void ScriptedPrompter::expectYesNo(const QString &text, bool answer, const QString &title)
{
    Expectation e;
    e.call = {Kind::YesNo, text, title, {}, {}, Icon::None};
    e.yes = answer;
    m_expected << e;
}

void ScriptedPrompter::expectInput(const QString &prompt, const QString &proposal,
                                   std::optional<QString> answer, const QString &title)
{
    Expectation e;
    e.call = {Kind::Input, prompt, title, {}, proposal, Icon::None};
    e.input = std::move(answer);
    m_expected << e;
}

void ScriptedPrompter::expectOpenFiles(const QString &title, const QStringList &filters,
                                       const QStringList &answer)
{
    Expectation e;
    e.call = {Kind::OpenFiles, {}, title, filters, {}, Icon::None};
    e.files = answer;
    m_expected << e;
}

void ScriptedPrompter::expectSaveFile(const QString &title, const QStringList &filters,
                                      const QString &answer)
{
    Expectation e;
    e.call = {Kind::SaveFile, {}, title, filters, {}, Icon::None};
    e.path = answer;
    m_expected << e;
}

void ScriptedPrompter::expectPickFolder(const QString &title, const QString &answer)
{
    Expectation e;
    e.call = {Kind::PickFolder, {}, title, {}, {}, Icon::None};
    e.path = answer;
    m_expected << e;
}

void ScriptedPrompter::expectOpenUrl(const QUrl &url, bool answer)
{
    Expectation e;
    e.call = {Kind::OpenUrl, url.isEmpty() ? QString() : url.toString(), {}, {}, {}, Icon::None};
    e.yes = answer;
    m_expected << e;
}

QString ScriptedPrompter::problems() const
{
    QStringList all = m_problems;
    for (const Expectation &e : m_expected)
        all << u"expected but never asked: " + describe(e.call);
    return all.join(u'\n');
}

void ScriptedPrompter::reset()
{
    m_expected.clear();
    m_calls.clear();
    m_problems.clear();
}

std::optional<ScriptedPrompter::Expectation> ScriptedPrompter::take(const Call &asked)
{
    Call call = asked;
    call.window = call.window ? call.window : m_window;
    if (m_script)
        return m_script->take(call);
    m_calls << call;
    if (m_expected.isEmpty()) {
        m_problems << u"unexpected: " + describe(call);
        return std::nullopt;
    }
    if (!same(m_expected.constFirst().call, call)) {
        m_problems << u"asked: " + describe(call) + u"\n  but expected: "
                        + describe(m_expected.constFirst().call);
        m_expected.removeFirst();
        return std::nullopt;
    }
    return m_expected.takeFirst();
}

void ScriptedPrompter::message(const QString &text, const QString &title, Icon icon)
{
    take({Kind::Message, text, title, {}, {}, icon});
}

bool ScriptedPrompter::askYesNo(const QString &text, const QString &title, bool)
{
    const auto e = take({Kind::YesNo, text, title, {}, {}, Icon::None});
    return e && e->yes;
}

std::optional<QString> ScriptedPrompter::inputText(const QString &prompt, const QString &title,
                                                   const QString &proposal)
{
    const auto e = take({Kind::Input, prompt, title, {}, proposal, Icon::None});
    return e ? e->input : std::nullopt;
}

QStringList ScriptedPrompter::openFiles(const QString &title, const QStringList &filters)
{
    const auto e = take({Kind::OpenFiles, {}, title, filters, {}, Icon::None});
    return e ? e->files : QStringList();
}

QString ScriptedPrompter::saveFile(const QString &title, const QStringList &filters)
{
    const auto e = take({Kind::SaveFile, {}, title, filters, {}, Icon::None});
    return e ? e->path : QString();
}

QString ScriptedPrompter::pickFolder(const QString &title)
{
    const auto e = take({Kind::PickFolder, {}, title, {}, {}, Icon::None});
    return e ? e->path : QString();
}

bool ScriptedPrompter::openUrl(const QUrl &url)
{
    const auto e = take({Kind::OpenUrl, url.toString(), {}, {}, {}, Icon::None});
    return e && e->yes;
}

std::unique_ptr<corvalen::Prompter> ScriptedPrompter::forWindow(QObject *window)
{
    // Asks through this script's expectations and calls, naming the window.
    auto over = std::make_unique<ScriptedPrompter>();
    over->m_script = this;
    over->m_window = window;
    return over;
}
