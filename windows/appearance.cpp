#include "windows/appearance.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QScreen>
#include <QWidget>

namespace corvalen {

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString skinFilePath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("x/o.cjs"));
}

bool applySkin(QWidget *mainWindow, const QString &folder)
{
    const QFileInfo info(skinFilePath(folder));
    // Plain files only: a hidden file of that name does not count.
    if (!info.isFile() || info.isHidden())
        return false;
    setSystemColors(mainWindow);
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return false; // start-up goes on with the system colours
    mainWindow->setStyleSheet(QString::fromUtf8(file.readAll()));
    return true;
}

void setBackground(QWidget *widget, const QColor &colour)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, colour);
    widget->setPalette(p);
    // Buttons fill with the button colour by default; option buttons and check boxes take the
    // window colour like the other plain controls.
    widget->setBackgroundRole(QPalette::Window);
    widget->setAutoFillBackground(true);
}

void setSystemColors(QWidget *window)
{
    const QColor face = QGuiApplication::palette().color(QPalette::Button);
    setBackground(window, face);
    const QList<QWidget *> children = window->findChildren<QWidget *>();
    for (QWidget *w : children) {
        if (qobject_cast<QRadioButton *>(w) || qobject_cast<QCheckBox *>(w)
            || qobject_cast<QGroupBox *>(w) || qobject_cast<QLabel *>(w))
            setBackground(w, face);
    }
}

void centerForm(QWidget *window)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QRect frame = window->frameGeometry();
    const int left = area.x() + qRound((area.width() - frame.width()) / 2.0);
    const int top = area.y() + qRound((area.height() - frame.height()) / 2.0);
    window->move(left, top);
}

bool fileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

} // namespace corvalen
