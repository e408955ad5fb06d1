#pragma once

#include <QColor>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

class QPainter;

namespace corvalen {

/// Writes a picture to path through the checked write routine: SVG for a .svg name (with its
/// title), PNG otherwise, draw painting it at size; a PNG is first filled with background when
/// one is given. False with error naming the file and the reason.
bool writeImageFile(const QString &path, QSize size, const QString &title,
                    const std::function<void(QPainter &)> &draw, std::optional<QColor> background, QString *error);

/// Whether path names an SVG picture (otherwise a PNG is written).
bool isSvgPath(const QString &path);

} // namespace corvalen
