#include "windows/appearance.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOption>
#include <QWidget>

#include <algorithm>

namespace corvalen {

namespace {

// Draws group box frames on a layer of their own first, and takes out of it the colour the style
// lays over the middle of the frame wherever it lies: the lines stay as the style draws them.
// Styles that put the caption above the frame (Fusion) draw the top line a few pixels below the
// caption, where a design measured from the frame's top edge places its first control; given that
// control's top, the line is drawn in the caption's margin just above it.
class FrameWithoutWashStyle : public QProxyStyle
{
public:
    explicit FrameWithoutWashStyle(int firstControlTop) : m_firstControlTop(firstControlTop) {}

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl part,
                         const QWidget *widget) const override
    {
        QRect r = QProxyStyle::subControlRect(control, option, part, widget);
        if (control == CC_GroupBox && part == SC_GroupBoxContents && m_firstControlTop > 0
            && r.top() > m_firstControlTop)
            r.setTop(m_firstControlTop);
        return r;
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
        if (element != PE_FrameGroupBox || !frame || option->rect.isEmpty()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        QStyleOptionFrame placed(*frame);
        QImage layer = frameLayer(placed, painter, widget);
        const int line = topLine(layer);
        if (m_firstControlTop > 0 && line >= 0 && placed.rect.top() + line >= m_firstControlTop) {
            placed.rect.setTop(placed.rect.top() - (placed.rect.top() + line - m_firstControlTop + 1));
            layer = frameLayer(placed, painter, widget);
        }
        const QRgb wash = layer.pixel(layer.width() / 2, layer.height() / 2);
        if (wash != 0) {
            for (int y = 0; y < layer.height(); ++y) {
                auto *row = reinterpret_cast<QRgb *>(layer.scanLine(y));
                std::replace(row, row + layer.width(), wash, QRgb(0));
            }
        }
        painter->drawImage(placed.rect.topLeft(), layer);
    }

private:
    QImage frameLayer(const QStyleOptionFrame &option, QPainter *painter, const QWidget *widget) const
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QImage layer((QSizeF(option.rect.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
        QPainter onLayer(&layer);
        onLayer.translate(-option.rect.topLeft());
        QProxyStyle::drawPrimitive(PE_FrameGroupBox, &option, &onLayer, widget);
        return layer;
    }

    // The first row the style drew on, in pixels from the layer's top; -1 for none.
    static int topLine(const QImage &layer)
    {
        const qreal ratio = layer.devicePixelRatio();
        for (int y = 0; y < layer.height(); ++y) {
            const auto *row = reinterpret_cast<const QRgb *>(layer.constScanLine(y));
            if (std::any_of(row, row + layer.width(), [](QRgb p) { return qAlpha(p) != 0; }))
                return int(y / ratio);
        }
        return -1;
    }

    int m_firstControlTop;
};

} // namespace

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

void drawFrameWithoutWash(QGroupBox *frame, int firstControlTop)
{
    auto *style = new FrameWithoutWashStyle(firstControlTop);
    style->setParent(frame);
    frame->setStyle(style);
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
