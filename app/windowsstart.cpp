#include "app/windowsstart.h"

#include <QCoreApplication>
#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <iterator>

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::WindowsStart", text);
}

// The options QGuiApplication, QApplication and the platform plugins take out of the command line
// (Qt accepts them with one dash or two). They must reach Qt and never become paths.
constexpr const char *kQtOptionsWithValue[] = {
        "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
        "qwindowtitle", "session", "display", "geometry", "title", "icon", "name", "visual", "style",
        "stylesheet"};
constexpr const char *kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
constexpr const char *kQtOptionsWithEquals[] = {"style=", "stylesheet=", "qmljsdebugger="};

// The option's name without its dashes: Qt reads "--style" as "-style".
QByteArray optionName(const QByteArray &argument)
{
    return argument.mid(argument.startsWith("--") ? 2 : 1);
}

bool oneOf(const QByteArray &name, const auto &names)
{
    return std::any_of(std::begin(names), std::end(names), [&](const char *n) { return name == n; });
}

bool startsWithOneOf(const QByteArray &name, const auto &prefixes)
{
    return std::any_of(std::begin(prefixes), std::end(prefixes), [&](const char *p) { return name.startsWith(p); });
}

} // namespace

DisplayEnvironment DisplayEnvironment::current()
{
    return {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY")};
}

bool hasDisplay(const QByteArray &platform, const QByteArray &x11Display, const QByteArray &waylandDisplay)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    if (platform.trimmed().isEmpty())
        return !x11Display.isEmpty() || !waylandDisplay.isEmpty();
    // "wayland;xcb" names plugins to try in turn; what follows a colon are the plugin's options.
    for (const QByteArray &entry : platform.split(';')) {
        const QByteArray name = entry.split(':').constFirst().trimmed();
        if (name.isEmpty())
            continue;
        if (name == "xcb") {
            if (!x11Display.isEmpty())
                return true;
        } else if (name.startsWith("wayland")) {
            if (!waylandDisplay.isEmpty())
                return true;
        } else {
            return true; // offscreen, minimal, vnc, linuxfb, eglfs ... need no display server
        }
    }
    return false;
#else
    Q_UNUSED(platform);
    Q_UNUSED(x11Display);
    Q_UNUSED(waylandDisplay);
    return true; // the desktop is always there
#endif
}

WindowsStart readWindowsStart(const QList<QByteArray> &arguments, const DisplayEnvironment &environment)
{
    WindowsStart start;
    QByteArray platform = environment.platform;
    QByteArray x11Display = environment.x11Display;
    if (!arguments.isEmpty())
        start.qtArguments << arguments.constFirst();
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QByteArray &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith('-')) {
            start.paths << QFile::decodeName(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const QByteArray name = optionName(argument);
        if (oneOf(name, kQtOptionsWithValue) && i + 1 < arguments.size()) {
            const QByteArray &value = arguments.at(++i);
            if (name == "platform")
                platform = value;
            else if (name == "display")
                x11Display = value;
            start.qtArguments << argument << value;
        } else if (oneOf(name, kQtFlags) || startsWithOneOf(name, kQtOptionsWithEquals)) {
            start.qtArguments << argument;
        } else if (start.problem == WindowsStart::Problem::None) {
            start.problem = WindowsStart::Problem::UnknownOption;
            start.option = QFile::decodeName(argument);
        }
    }
    if (start.problem == WindowsStart::Problem::None
        && !hasDisplay(platform, x11Display, environment.waylandDisplay))
        start.problem = WindowsStart::Problem::NoDisplay;
    return start;
}

QString WindowsStart::message() const
{
    const QString count = tr("To count without the windows, use corvalen count: corvalen count [OPTIONS] "
                             "PATH... (see corvalen count --help).\n");
    switch (problem) {
    case Problem::None:
        return {};
    case Problem::UnknownOption:
        if (option == u"-")
            return tr("corvalen: the windows do not read paths from standard input ('-'); a file named - "
                      "is given as ./-\n")
                    + count;
        return tr("corvalen: unknown option '%1': the windows take only files and folders ('--' ends the "
                  "options, for a file whose name begins with a dash).\n")
                       .arg(option)
                + count;
    case Problem::NoDisplay:
        return tr("corvalen: the windows need a display, and none is set (neither DISPLAY nor "
                  "WAYLAND_DISPLAY).\n")
                + count;
    case Problem::DisplayUnusable:
        return tr("corvalen: the windows could not be shown: no display could be used (Qt's reason "
                  "is above).\n")
                + count;
    }
    return {};
}

} // namespace corvalen
