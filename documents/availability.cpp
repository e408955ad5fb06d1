#include "documents/availability.h"

#include "base/prompter.h"
#include "documents/formatreader.h"

#include <QCoreApplication>

#include <exception>

namespace corvalen {

namespace {

QString tr(const char *s)
{
    return QCoreApplication::translate("Documents", s);
}

} // namespace

bool BuiltInEngineStatus::canStart() const
{
    try {
        return !formatReaders().empty();
    } catch (const std::exception &) {
        return false;
    }
}

void checkWordInstalled(const DocumentEngineStatus &engine, Prompter &prompter)
{
    bool started = false;
    try {
        started = engine.canStart();
    } catch (const std::exception &) {
    }
    if (!started)
        prompter.message(tr("Word is not installed on this computer. You need to have it installed to "
                            "use this software without error."),
                         Prompter::applicationTitle(), Prompter::Icon::None);
}

bool isWordRunning(const DocumentEngineStatus &engine)
{
    try {
        return engine.isRunning();
    } catch (const std::exception &) {
        return false;
    }
}

bool warnWordOpen(const DocumentEngineStatus &engine, Prompter &prompter)
{
    if (!isWordRunning(engine))
        return false;
    const QString text = tr("Word may be open. It is recommended that you close Word first. Use "
                            "Ctrl+Alt+Del > Task Manager > WINWORD.EXE if necessary.")
            % u"\r\n\r\n" % tr("Would you like to proceed anyway?");
    return !prompter.askYesNo(text, Prompter::applicationTitle(), true);
}

} // namespace corvalen
