#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

class QIODevice;

namespace corvalen {

/// Writes a file's content into device. Returns false when it cannot, with reason set to why;
/// a failed write of the device needs no reason of its own (the device's is taken).
using FileWriter = std::function<bool(QIODevice &device, QString *reason)>;

/// The one routine through which the program writes every file it produces.
///
/// A new file, or an existing regular file (a symbolic link is followed to it): write() goes
/// into a temporary file in the same folder; every write is checked for its full length, the
/// file is synced and then renamed over the target, keeping an existing file's permissions.
/// On any failure the temporary file is removed and the target is left as it was.
///
/// An existing file that is not a regular file (a FIFO, a device such as /dev/null, or one of
/// this process's descriptors such as /dev/stdout) is written directly, as users of such paths
/// expect.
///
/// Returns true only when everything write() produced is in the file. Otherwise error is set to
/// writeErrorText() of path and the reason: the system's ("No space left on device"), or the
/// one write() gave.
bool writeFileSafely(const QString &path, const FileWriter &write, QString *error = nullptr);

/// Whether writeFileSafely() could replace or create path: the checks it makes before it writes
/// (the target is writable, a new file can be made in its folder), made before the work that
/// produces the content. Returns false with error set as writeFileSafely() sets it.
bool canWriteFileSafely(const QString &path, QString *error = nullptr);

/// write() into standard output with the same checked writes (nothing to replace there).
/// Returns false with reason set (no file name) when not everything was written.
bool writeToStandardOutput(const FileWriter &write, QString *reason = nullptr);

/// Writes all of data to device, continuing a short write, so that a failure comes with the
/// system's reason in device.errorString() (a short write alone carries none). Returns false
/// when not everything was written.
bool writeAll(QIODevice &device, QByteArrayView data);

/// Where temporary files that go with a file to be written at path belong: beside it when it
/// is or will be a regular file (its space is needed there anyway, and the folder exists), the
/// temporary folder otherwise (a device, a FIFO, a missing folder).
QString scratchFolderFor(const QString &path);

/// While it lives, a file is removed when the process is ended by SIGINT, SIGTERM or SIGHUP (a
/// signal that the process ignores or handles itself is left alone). For the temporary files that
/// must not outlive the process where the system has no unnamed files.
class RemovedOnSignal
{
public:
    RemovedOnSignal() = default;
    /// path in the file system's encoding.
    explicit RemovedOnSignal(const QByteArray &path);
    RemovedOnSignal(RemovedOnSignal &&other) noexcept;
    RemovedOnSignal &operator=(RemovedOnSignal &&other) noexcept;
    ~RemovedOnSignal();

private:
    int m_slot = -1;
};

/// A temporary file for this process alone, open for reading and writing: unnamed where the
/// system allows it (it vanishes with the process however that ends), otherwise named in the
/// folder, removed by the destructor and on the signals of RemovedOnSignal.
class ScratchFile
{
public:
    /// Creates the file in folder; suffix ends a named file's name.
    explicit ScratchFile(const QString &folder, const QString &suffix = QString());
    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    /// The system's reason when the file could not be made.
    QString errorString() const { return m_error; }
    /// A name by which the file can be opened again while this object lives.
    QString path() const { return m_path; }

private:
    int m_fd = -1;
    QString m_path;
    QByteArray m_name; // the named file's, to remove
    QString m_error;
    RemovedOnSignal m_cleanup;
};

/// The message for a file that could not be written: "Could not write "<file>": <reason>."
QString writeErrorText(const QString &path, const QString &reason);

/// The system's text for an error number ("No space left on device").
QString systemErrorText(int errorNumber);

} // namespace corvalen
