#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvalen::testing {

/// One file out of a zip archive; empty when it is not there.
QByteArray unzip(const QString &archive, const char *entry);

/// The worksheets of a workbook, each sheet's XML in order (the rest holds dates).
QList<QByteArray> sheetsOf(const QString &archive);

} // namespace corvalen::testing
