#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace corvalen {

/// Folder and name joined by exactly one separator (a root such as "/" or "C:\" is not doubled),
/// in native separators.
QString joinPath(const QString &folder, const QString &name);

/// A folder a scan could not list (its files and subfolders are left out), and the system's
/// reason.
struct UnreadableFolder
{
    QString path; ///< in native separators
    QString reason;

    friend bool operator==(const UnreadableFolder &, const UnreadableFolder &) = default;
};

/// The folder tree below root, breadth-first: root first, then its subfolders, then theirs, each
/// level's folders grouped by parent and named in case-insensitive alphabetical order. Hidden
/// folders are not entered, and a folder reached again (through a symbolic link, or a link loop)
/// is listed only the first time. Paths are in native separators, without a trailing one.
/// Safe to call from a worker thread; cancelled, when given, is polled once per folder. Folders
/// that cannot be listed are added to unreadable, when given.
QStringList collectSubFolders(const QString &root, const std::function<bool()> &cancelled = {},
                              QList<UnreadableFolder> *unreadable = nullptr);

/// Names (without folder) of the files of one folder that match a wildcard pattern ("*", "?",
/// case-insensitive; "*.*" means every file, as on Windows), hidden files included, in
/// case-insensitive alphabetical order. Folders are never listed.
QStringList listFolderFiles(const QString &folder, const QString &pattern);

/// Whether a file found by a folder scan is left out: names beginning with "~" (the temporary
/// files of word processors) and LibreOffice lock files (".~lock.NAME#").
bool isSkippedByFolderScan(const QString &name);

/// The whole scan of Add Folder and of a dropped folder: every file matching pattern in the tree
/// of root, folder by folder in collectSubFolders() order, without the names
/// isSkippedByFolderScan() leaves out. Full paths in native separators.
QStringList scanFolderTree(const QString &root, const QString &pattern,
                           const std::function<bool()> &cancelled = {},
                           QList<UnreadableFolder> *unreadable = nullptr);

/// What a scan of dropped paths met besides files.
struct DropScanNotes
{
    QList<UnreadableFolder> unreadable; ///< every folder of the trees that could not be listed
    QStringList withoutFiles; ///< folders among the paths whose tree, all of it read, has no file
};

/// Paths as a drop on the file list adds them: a folder becomes every file of its tree
/// (scanFolderTree() with "*.*"), anything else stays as it is. Order kept. notes, when given,
/// receives what the scans met besides files.
QStringList pathsAsDropped(const QStringList &paths, const std::function<bool()> &cancelled = {},
                           DropScanNotes *notes = nullptr);

} // namespace corvalen
