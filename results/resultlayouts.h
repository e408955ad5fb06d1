#pragma once

#include "engine/resulttable.h"

#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

namespace corvalen {

/// Each column's width in UTF-16 code units: its longest cell and, when headers are given, its
/// header text.
QList<qsizetype> columnWidths(const ResultTable &table, const QStringList &headers = {});

/// The "Save Results" text file: a header line, then one line per row; every cell padded with
/// spaces to its column's width and followed by a tab; CR LF after each line and one more at the
/// end. UTF-8 without byte order mark. Returns false with error set when the device fails.
bool writeResultsText(const ResultTable &table, const QStringList &headers, QIODevice &device,
                      QString *error = nullptr);
/// writeResultsText() into a file, atomically: on failure an existing file is left untouched and
/// error names the file and the reason.
bool saveResultsText(const ResultTable &table, const QStringList &headers, const QString &path,
                     QString *error = nullptr);

/// The clipboard text: no header; widths from the cells only; cells joined by tabs, trailing
/// spaces dropped, CR LF after every row. Empty for an empty table.
QString clipboardText(const ResultTable &table);
/// clipboardText() as UTF-8 into a device, without holding the whole text.
bool writeClipboardText(const ResultTable &table, QIODevice &device, QString *error = nullptr);
/// writeClipboardText() into a file, atomically (see saveResultsText()).
bool saveClipboardText(const ResultTable &table, const QString &path, QString *error = nullptr);

/// The message for a file that could not be written, naming it and the reason.
QString writeErrorText(const QString &path, const QString &reason);

} // namespace corvalen
