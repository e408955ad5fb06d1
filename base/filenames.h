#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QFile;

namespace corvalen {

/// A file name as the program holds it, from the bytes the system gives. On Unix a name is
/// bytes: those that are not valid UTF-8 are kept, each as a lone surrogate U+DC80 to U+DCFF,
/// so that encodeFileName() gives exactly the same bytes back and the file can still be opened.
/// (Qt's own decoding turns them into U+FFFD, after which no file of that name exists.)
QString decodeFileName(QByteArrayView bytes);
/// The system's bytes of a name made by decodeFileName() (any other name: its UTF-8).
QByteArray encodeFileName(QStringView name);

/// What the system says of a path, links followed: whether it exists and what it is, or why it
/// cannot be looked at (error: the system's error number, ENOENT when nothing is there).
struct FileStatus
{
    bool exists = false;
    bool isFolder = false;
    bool isRegularFile = false;
    qint64 size = 0;
    int error = 0;
};
FileStatus fileStatus(const QString &path);

/// Opens a file for reading by a name of decodeFileName(); false when it cannot, with the
/// system's error number in systemError where there is one (else 0: file's error tells).
bool openForReading(QFile &file, const QString &path, int *systemError = nullptr);

/// A name by which a file opened by openForReading() can be opened again (by a library that
/// wants a name).
QByteArray reopenName(const QFile &file);

} // namespace corvalen
