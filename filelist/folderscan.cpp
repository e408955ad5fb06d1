#include "filelist/folderscan.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
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

// Whether folder can be listed, and if not why: listing an unreadable folder gives nothing, as an
// empty one does.
bool canList(const QString &folder, QString *reason)
{
#ifdef Q_OS_UNIX
    if (DIR *dir = ::opendir(QFile::encodeName(folder).constData())) {
        ::closedir(dir);
        return true;
    }
    *reason = qt_error_string(errno);
    return false;
#else
    if (QFileInfo(folder).isReadable())
        return true;
    *reason = qt_error_string(-1);
    return false;
#endif
}

} // namespace

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return QDir::toNativeSeparators(name);
    if (isSeparator(folder.back()))
        return QDir::toNativeSeparators(folder + name);
    return QDir::toNativeSeparators(folder + QDir::separator() + name);
}

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
        if (!QFileInfo(path).isDir()) {
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
