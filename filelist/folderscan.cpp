#include "filelist/folderscan.h"

#include "base/filenames.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>
#endif

namespace corvalen {

namespace {

bool isSeparator(QChar c)
{
    return c == u'/' || c == QDir::separator();
}

// Case-insensitive first, then ordinal, so that names differing only in case keep a fixed order.
void sortNames(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
}

// Windows-style wildcards: "*" any run, "?" one character; no character classes.
bool wildcardMatch(QStringView pattern, QStringView name)
{
    qsizetype p = 0, n = 0, star = -1, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size()
                   && (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

QString withoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && isSeparator(path.back())
           && !(path.size() == 3 && path.at(1) == u':')) // keep "C:\"
        path.chop(1);
    return path;
}

#ifdef Q_OS_UNIX
// The entries of a folder by the system's bytes, so that a name that is not valid UTF-8 is listed
// too (decodeFileName() keeps its bytes). Folders or files (regular ones, as Qt lists them: no
// pipes, sockets or devices), links followed; hidden folders left out. Folders come with their
// device and inode, which tell a folder reached twice.
struct Entry
{
    QString name;
    dev_t device = 0;
    ino_t inode = 0;
};

std::vector<Entry> folderEntries(const QString &folder, bool folders, int *error)
{
    std::vector<Entry> entries;
    DIR *dir = ::opendir(encodeFileName(folder).constData());
    if (!dir) {
        *error = errno;
        return entries;
    }
    *error = 0;
    const int at = ::dirfd(dir);
    while (const dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (folders && name[0] == '.')
            continue;
        struct stat st = {};
        if (::fstatat(at, name, &st, 0) != 0)
            continue; // a link to nothing, or gone meanwhile
        if (folders ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
            continue;
        entries.push_back({decodeFileName(QByteArrayView(name, qsizetype(std::strlen(name)))), st.st_dev, st.st_ino});
    }
    ::closedir(dir);
    return entries;
}
#endif

#ifndef Q_OS_UNIX
// Whether folder can be listed, and if not why: listing an unreadable folder gives nothing, as an
// empty one does.
bool canList(const QString &folder, QString *reason)
{
    if (QFileInfo(folder).isReadable())
        return true;
    *reason = qt_error_string(-1);
    return false;
}
#endif

} // namespace

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return QDir::toNativeSeparators(name);
    if (isSeparator(folder.back()))
        return QDir::toNativeSeparators(folder + name);
    return QDir::toNativeSeparators(folder + QDir::separator() + name);
}

#ifdef Q_OS_UNIX
QStringList collectSubFolders(const QString &root, const std::function<bool()> &cancelled,
                              QList<UnreadableFolder> *unreadable)
{
    QStringList folders{QDir::toNativeSeparators(withoutTrailingSeparator(root))};
    QSet<QPair<quint64, quint64>> seen;
    struct stat st = {};
    if (::stat(encodeFileName(root).constData(), &st) == 0)
        seen.insert({quint64(st.st_dev), quint64(st.st_ino)});
    // folders grows while it is walked: that is the breadth-first queue.
    for (qsizetype i = 0; i < folders.size(); ++i) {
        if (cancelled && cancelled())
            break;
        const QString folder = folders.at(i);
        int error = 0;
        std::vector<Entry> entries = folderEntries(folder, true, &error);
        if (error && unreadable)
            unreadable->append({folder, qt_error_string(error)});
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
            const int c = a.name.compare(b.name, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a.name < b.name;
        });
        for (const Entry &e : entries) {
            if (seen.contains({quint64(e.device), quint64(e.inode)}))
                continue;
            seen.insert({quint64(e.device), quint64(e.inode)});
            folders.append(joinPath(folder, e.name));
        }
    }
    return folders;
}

QStringList listFolderFiles(const QString &folder, const QString &pattern)
{
    const bool everything = pattern == u"*.*" || pattern == u"*";
    int error = 0;
    QStringList names;
    for (Entry &e : folderEntries(folder, false, &error)) {
        if (everything || wildcardMatch(pattern, e.name))
            names.append(std::move(e.name));
    }
    sortNames(names);
    return names;
}
#else
QStringList collectSubFolders(const QString &root, const std::function<bool()> &cancelled,
                              QList<UnreadableFolder> *unreadable)
{
    QStringList folders{QDir::toNativeSeparators(withoutTrailingSeparator(root))};
    QSet<QString> seen{QFileInfo(root).canonicalFilePath()};
    // folders grows while it is walked: that is the breadth-first queue.
    for (qsizetype i = 0; i < folders.size(); ++i) {
        if (cancelled && cancelled())
            break;
        const QString folder = folders.at(i);
        QStringList names;
        QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot);
        bool any = false;
        while (it.hasNext()) {
            it.next();
            names.append(it.fileName());
            any = true;
        }
        // A folder without subfolders may hold files, or may not be readable at all.
        QString reason;
        if (!any && unreadable && !canList(folder, &reason))
            unreadable->append({folder, reason});
        sortNames(names);
        for (const QString &name : std::as_const(names)) {
            const QString path = joinPath(folder, name);
            const QString real = QFileInfo(path).canonicalFilePath();
            if (real.isEmpty() || seen.contains(real))
                continue;
            seen.insert(real);
            folders.append(path);
        }
    }
    return folders;
}

QStringList listFolderFiles(const QString &folder, const QString &pattern)
{
    const bool everything = pattern == u"*.*" || pattern == u"*";
    QDir::Filters filters = QDir::Files | QDir::Hidden;
#ifdef Q_OS_WIN
    filters |= QDir::System; // system files are documents too; on Unix "system" means sockets and fifos
#endif
    QStringList names;
    QDirIterator it(folder, filters);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (everything || wildcardMatch(pattern, name))
            names.append(name);
    }
    sortNames(names);
    return names;
}
#endif

bool isSkippedByFolderScan(const QString &name)
{
    return name.startsWith(u'~') || (name.startsWith(u".~lock.") && name.endsWith(u'#'));
}

QStringList scanFolderTree(const QString &root, const QString &pattern,
                           const std::function<bool()> &cancelled,
                           QList<UnreadableFolder> *unreadable)
{
    QStringList paths;
    for (const QString &folder : collectSubFolders(root, cancelled, unreadable)) {
        if (cancelled && cancelled())
            break;
        for (const QString &name : listFolderFiles(folder, pattern)) {
            if (!isSkippedByFolderScan(name))
                paths.append(joinPath(folder, name));
        }
    }
    return paths;
}

QStringList pathsAsDropped(const QStringList &paths, const std::function<bool()> &cancelled,
                           DropScanNotes *notes)
{
    QStringList out;
    for (const QString &path : paths) {
        if (cancelled && cancelled())
            break;
        if (!fileStatus(path).isFolder) {
            out.append(path);
            continue;
        }
        const qsizetype unreadableBefore = notes ? notes->unreadable.size() : 0;
        const QStringList files = scanFolderTree(path, QStringLiteral("*.*"), cancelled,
                                                 notes ? &notes->unreadable : nullptr);
        if (notes && files.isEmpty() && notes->unreadable.size() == unreadableBefore
            && !(cancelled && cancelled()))
            notes->withoutFiles.append(QDir::toNativeSeparators(path));
        out += files;
    }
    return out;
}

} // namespace corvalen
