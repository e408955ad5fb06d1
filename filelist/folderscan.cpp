#include "filelist/folderscan.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

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

} // namespace

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return QDir::toNativeSeparators(name);
    if (isSeparator(folder.back()))
        return QDir::toNativeSeparators(folder + name);
    return QDir::toNativeSeparators(folder + QDir::separator() + name);
}

QStringList collectSubFolders(const QString &root, const std::function<bool()> &cancelled)
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
        while (it.hasNext()) {
            it.next();
            names.append(it.fileName());
        }
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
                           const std::function<bool()> &cancelled)
{
    QStringList paths;
    for (const QString &folder : collectSubFolders(root, cancelled)) {
        if (cancelled && cancelled())
            break;
        for (const QString &name : listFolderFiles(folder, pattern)) {
            if (!isSkippedByFolderScan(name))
                paths.append(joinPath(folder, name));
        }
    }
    return paths;
}

QStringList pathsAsDropped(const QStringList &paths, const std::function<bool()> &cancelled)
{
    QStringList out;
    for (const QString &path : paths) {
        if (cancelled && cancelled())
            break;
        if (QFileInfo(path).isDir())
            out += scanFolderTree(path, QStringLiteral("*.*"), cancelled);
        else
            out.append(path);
    }
    return out;
}

} // namespace corvalen
