#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace corvalen {

/// What the environment says about a display, read before any application object exists.
struct DisplayEnvironment
{
    QByteArray platform; ///< QT_QPA_PLATFORM
    QByteArray x11Display; ///< DISPLAY
    QByteArray waylandDisplay; ///< WAYLAND_DISPLAY

    /// This process's environment.
    static DisplayEnvironment current();
};

/// "corvalen [--] [PATH...]" read as the windows take it: Qt's own options (-platform offscreen,
/// -style fusion, -session ...) go to the application object, everything else is a path, and
/// "--" ends the options.
struct WindowsStart
{
    enum class Problem {
        None,
        UnknownOption, ///< an option of neither the windows nor Qt: a usage error
        NoDisplay, ///< nothing to show the windows on
        DisplayUnusable, ///< a display is set, but Qt could not use it
    };

    Problem problem = Problem::None;
    QString option; ///< the unknown option
    QList<QByteArray> qtArguments; ///< the program's name and Qt's options, for QApplication
    QStringList paths; ///< as given, in order

    /// The text for standard error when there is a problem; empty otherwise.
    QString message() const;
};

/// Reads arguments (the program's name first, as main() gets them) for the windows.
WindowsStart readWindowsStart(const QList<QByteArray> &arguments, const DisplayEnvironment &environment);

/// Whether the windows can be shown: a display is set for the platform Qt will take, or the
/// platform (from -platform, else QT_QPA_PLATFORM) draws without one (offscreen, minimal, vnc ...).
bool hasDisplay(const QByteArray &platform, const QByteArray &x11Display, const QByteArray &waylandDisplay);

} // namespace corvalen
