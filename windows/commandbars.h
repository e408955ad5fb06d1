#pragma once

#include <QList>
#include <QString>

#include <functional>

class QToolBar;
class QWidget;

namespace corvalen {

/// One toolbar button: its command id (also the id of its icon), caption and width in pixels.
struct ToolButtonSpec
{
    int id = 0;
    QString caption;
    int width = 100;
};

/// Builds the toolbar "Standard" in the command-bar host of a window: the buttons in the given
/// order with their widths, Calibri 11 for the host, captions beneath 48 by 48 icons taken from
/// iconFolder/<id>.svg in the resources, stretched across the host. Each button calls execute
/// with its id. The host's layout must be a QBoxLayout; the toolbar goes at its end.
QToolBar *createStandardBar(QWidget *host, const QList<ToolButtonSpec> &buttons,
                            const QString &iconFolder, std::function<void(int)> execute);

/// The property of each toolbar action that holds its command id.
inline constexpr char commandIdProperty[] = "commandId";

/// Ctrl+W (and the platform's other keys for closing a document) closes window, a window of its own.
void addCloseShortcut(QWidget *window);

/// The application icon.
QString applicationIconPath();

/// Makes the compiled-in icons available (the library is static).
void initResources();

} // namespace corvalen
