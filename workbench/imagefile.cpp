#include "workbench/imagefile.h"

#include "base/safefile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

namespace corvalen {

bool isSvgPath(const QString &path)
{
    return QFileInfo(path).suffix().compare(u"svg", Qt::CaseInsensitive) == 0;
}

bool writeImageFile(const QString &path, QSize size, const QString &title,
                    const std::function<void(QPainter &)> &draw, std::optional<QColor> background, QString *error)
{
    const bool svg = isSvgPath(path);
    const FileWriter write = [&](QIODevice &device, QString *reason) {
        if (svg) {
            QSvgGenerator generator;
            generator.setOutputDevice(&device);
            generator.setSize(size);
            generator.setViewBox(QRect(QPoint(0, 0), size));
            generator.setTitle(title);
            QPainter painter;
            if (!painter.begin(&generator)) {
                *reason = QCoreApplication::translate("ImageFile", "the image could not be drawn");
                return false;
            }
            draw(painter);
            return painter.end();
        }
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        if (background)
            image.fill(*background);
        QPainter painter(&image);
        draw(painter);
        painter.end();
        if (!image.save(&device, "PNG")) {
            *reason = device.errorString().isEmpty()
                    ? QCoreApplication::translate("ImageFile", "the image could not be encoded")
                    : device.errorString();
            return false;
        }
        return true;
    };
    return writeFileSafely(path, write, error);
}

} // namespace corvalen
