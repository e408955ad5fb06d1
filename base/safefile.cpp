#include "base/safefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include <QRandomGenerator>
#ifdef Q_OS_UNIX

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::SafeFile", text);
}

// The names RemovedOnSignal holds, for the signal handler: a fixed table, read without locks.
constexpr int kRemovedSlots = 64;
std::atomic<char *> removedNames[kRemovedSlots];

#ifdef Q_OS_UNIX
void removeAndEnd(int signal)
{
    for (std::atomic<char *> &slot : removedNames) {
        if (const char *name = slot.load())
            ::unlink(name);
    }
    // The handler was reset on entry: the signal, raised again, ends the process as it would have.
    ::raise(signal);
}

// Looked at each time a name is kept: a signal whose handling is the default may have been set
// back to it since (and ours, once it ran, is gone).
void installRemovalHandlers()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old = {};
        if (::sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
            continue; // ours already, ignored (nohup) or handled by someone else
        struct sigaction act = {};
        act.sa_handler = removeAndEnd;
        sigemptyset(&act.sa_mask);
        act.sa_flags = SA_RESETHAND;
        ::sigaction(signal, &act, nullptr);
    }
}
#endif

// Where a path leads once symbolic links are followed; a link to nothing leads to the file it
// names, which is then created there and the link kept.
QString followLinks(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    QString target = info.absoluteFilePath();
    for (int hops = 0; hops < 40 && QFileInfo(target).isSymLink(); ++hops)
        target = QFileInfo(target).symLinkTarget();
    return target;
}

// A write-only device that carries every write out in full or fails with the system's reason.
// Once a write failed, every later one fails too: nothing is written after a gap.
class CheckedOutput final : public QIODevice
{
public:
#ifdef Q_OS_UNIX
    explicit CheckedOutput(int fd) : m_fd(fd) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
#else
    explicit CheckedOutput(QIODevice &file) : m_file(file) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
#endif
    bool isSequential() const override { return true; }
    bool failed() const { return m_failed; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (m_failed)
            return -1;
#ifdef Q_OS_UNIX
        constexpr qint64 kMaxCall = qint64(1) << 30; // Linux writes less than 2 GiB per call anyway
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size_t(std::min(size - done, kMaxCall)));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                m_failed = true;
                setErrorString(systemErrorText(n < 0 ? errno : ENOSPC));
                return -1;
            }
        }
        return done;
#else
        if (!writeAll(m_file, QByteArrayView(data, size))) {
            m_failed = true;
            setErrorString(m_file.errorString());
            return -1;
        }
        return size;
#endif
    }

private:
#ifdef Q_OS_UNIX
    int m_fd;
#else
    QIODevice &m_file;
#endif
    bool m_failed = false;
};

// Runs write into out; false with reason set when either of them failed. A failed write of the
// device counts even when write() went on and claimed success.
bool runWriter(const FileWriter &write, CheckedOutput &out, QString *reason)
{
    QString own;
    const bool wrote = write(out, &own);
    if (out.failed()) {
        *reason = out.errorString();
        return false;
    }
    if (!wrote) {
        *reason = own.isEmpty() ? tr("the content could not be produced") : own;
        return false;
    }
    return true;
}

#ifdef Q_OS_UNIX

enum class Kind {
    Descriptor, // one of this process's descriptors, named as a path
    Special, // an existing file that is no regular file: FIFO, device, socket
    Regular, // an existing regular file
    Missing, // nothing there yet
    Unusable, // a folder, or a path that cannot be looked at (error says why)
};

struct Target
{
    Kind kind = Kind::Missing;
    QString path; // links followed
    int fd = -1; // Kind::Descriptor
    int error = 0; // Kind::Unusable
    struct stat status = {}; // Kind::Regular
};

// /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N stand for a descriptor this process
// holds open for writing: written through it, the output lands where the shell's redirection
// put it, at its offset and in its mode (">>" appends), not at the start of a file opened anew.
int namedDescriptor(const QString &path)
{
    int fd = -1;
    if (path == u"/dev/stdout") {
        fd = STDOUT_FILENO;
    } else if (path == u"/dev/stderr") {
        fd = STDERR_FILENO;
    } else {
        for (const QStringView prefix : {QStringView(u"/dev/fd/"), QStringView(u"/proc/self/fd/")}) {
            bool ok = false;
            const int n = path.startsWith(prefix) ? QStringView(path).mid(prefix.size()).toInt(&ok) : -1;
            if (ok && n >= 0)
                fd = n;
        }
    }
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY ? fd : -1;
}

Target inspect(const QString &path)
{
    Target target;
    if (path.isEmpty()) {
        target.kind = Kind::Unusable;
        target.error = ENOENT;
        return target;
    }
    target.fd = namedDescriptor(path);
    if (target.fd >= 0) {
        target.kind = Kind::Descriptor;
        return target;
    }
    target.path = followLinks(path);
    if (::stat(QFile::encodeName(target.path).constData(), &target.status) != 0) {
        target.kind = errno == ENOENT ? Kind::Missing : Kind::Unusable;
        target.error = errno;
    } else if (S_ISDIR(target.status.st_mode)) {
        target.kind = Kind::Unusable;
        target.error = EISDIR;
    } else {
        target.kind = S_ISREG(target.status.st_mode) ? Kind::Regular : Kind::Special;
    }
    return target;
}

// The errno of a failed sync, or 0. Pipes, terminals, devices and some file systems cannot be
// synced at all; that is no failure of the data.
int syncError(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EINVAL || errno == EROFS || errno == ENOTSUP || errno == EOPNOTSUPP ? 0 : errno;
    }
    return 0;
}

// Writes into an open descriptor, checked and synced; the descriptor stays open.
bool writeDirectly(int fd, const FileWriter &write, QString *reason)
{
    CheckedOutput out(fd);
    if (!runWriter(write, out, reason))
        return false;
    if (const int e = syncError(fd)) {
        *reason = systemErrorText(e);
        return false;
    }
    return true;
}

bool writeSpecial(const QString &path, const FileWriter &write, QString *reason)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *reason = systemErrorText(errno);
        return false;
    }
    bool ok = writeDirectly(fd, write, reason);
    if (::close(fd) != 0 && errno != EINTR && ok) {
        *reason = systemErrorText(errno);
        ok = false;
    }
    return ok;
}

// A file without a name in folder (Linux's O_TMPFILE), or -1 where the system or the file system
// has none. It can be given a name later through /proc/self/fd.
int openUnnamedFile(const QByteArray &folder, int access)
{
#ifdef O_TMPFILE
    if (::access("/proc/self/fd", X_OK) != 0)
        return -1;
    return ::open(folder.constData(), O_TMPFILE | access | O_CLOEXEC, 0666);
#else
    Q_UNUSED(folder);
    Q_UNUSED(access);
    return -1;
#endif
}

// A new file beside the target, removed again unless it took the target's place. Where the system
// allows it the file has no name until it is complete, so that nothing is left behind when the
// process ends in the middle (a signal, a crash); otherwise its name is removed on the signals
// that end a process.
class Replacement
{
public:
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    // A new empty file in folder, created as the process creates files (the umask applies).
    explicit Replacement(const QString &folder) : m_folder(QFile::encodeName(folder))
    {
        m_fd = openUnnamedFile(m_folder, O_WRONLY);
        if (m_fd >= 0)
            return;
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_name = temporaryName();
            m_fd = ::open(m_name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd >= 0 || errno != EEXIST)
                break;
        }
        m_error = m_fd < 0 ? errno : 0;
        if (m_fd >= 0)
            m_cleanup = RemovedOnSignal(m_name);
    }
    ~Replacement()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_placed && !m_name.isEmpty())
            ::unlink(m_name.constData());
    }

    int fd() const { return m_fd; }
    int error() const { return m_error; }

    // Keeps the replaced file's permissions, and its owner and group where the system allows it
    // (root saving a user's file). Set-user and set-group bits are not carried over.
    void takeOver(const struct stat &old)
    {
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            if (::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
                // Not permitted: the new file belongs to whoever writes it, as any new file.
            }
        }
        ::fchmod(m_fd, old.st_mode & 0777);
    }

    // Closes the file and renames it over target; the errno of the first failure, or 0. An
    // unnamed file is given a name of its own first: a link cannot replace a file.
    int place(const QString &target)
    {
        if (m_name.isEmpty()) {
            if (const int e = nameUnnamed())
                return e;
        }
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0 && errno != EINTR)
            return errno; // a file system that writes late (NFS) reports here
        if (::rename(m_name.constData(), QFile::encodeName(target).constData()) != 0)
            return errno;
        m_placed = true;
        return 0;
    }

private:
    QByteArray temporaryName() const
    {
        return m_folder + "/.corvalen-"
                + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
    }

    int nameUnnamed()
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        for (int attempt = 0; attempt < 100; ++attempt) {
            QByteArray name = temporaryName();
            RemovedOnSignal cleanup(name); // for the moment between the link and the rename
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
                m_name = std::move(name);
                m_cleanup = std::move(cleanup);
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    QByteArray m_folder;
    QByteArray m_name; // empty while the file has no name
    RemovedOnSignal m_cleanup;
    int m_fd = -1;
    int m_error = 0;
    bool m_placed = false;
};

// The rename itself survives a power cut only once the folder is synced. The new file is
// complete and in place by now, so a folder that refuses is no failure of the save.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        syncError(fd);
        ::close(fd);
    }
}

// The checks before a file is replaced or created: the target may be written, and a new file
// made in its folder, which is made in file.
bool prepareReplacement(const Target &target, std::optional<Replacement> &file, QString *reason)
{
    if (target.kind == Kind::Regular && ::access(QFile::encodeName(target.path).constData(), W_OK) != 0) {
        *reason = systemErrorText(errno); // a write-protected file stays so
        return false;
    }
    const QString folder = QFileInfo(target.path).absolutePath();
    file.emplace(folder);
    if (file->fd() < 0) {
        // A file that may be written can still not be replaced: its folder takes no new file.
        *reason = target.kind == Kind::Regular
                ? tr("no new file can be made in its folder \"%1\" to take its place: %2")
                          .arg(QDir::toNativeSeparators(folder), systemErrorText(file->error()))
                : systemErrorText(file->error());
        return false;
    }
    return true;
}

bool replaceFile(const Target &target, const FileWriter &write, QString *reason)
{
    std::optional<Replacement> made;
    if (!prepareReplacement(target, made, reason))
        return false;
    Replacement &file = *made;
    const QString folder = QFileInfo(target.path).absolutePath();
    if (target.kind == Kind::Regular)
        file.takeOver(target.status);
    CheckedOutput out(file.fd());
    if (!runWriter(write, out, reason))
        return false;
    int e = syncError(file.fd());
    if (e == 0)
        e = file.place(target.path);
    if (e != 0) {
        *reason = systemErrorText(e);
        return false;
    }
    syncFolder(folder);
    return true;
}

bool writePath(const QString &path, const FileWriter &write, QString *reason)
{
    const Target target = inspect(path);
    switch (target.kind) {
    case Kind::Descriptor:
        return writeDirectly(target.fd, write, reason);
    case Kind::Special:
        return writeSpecial(target.path, write, reason);
    case Kind::Regular:
    case Kind::Missing:
        return replaceFile(target, write, reason);
    case Kind::Unusable:
        break;
    }
    *reason = systemErrorText(target.error);
    return false;
}

bool checkPath(const QString &path, QString *reason)
{
    const Target target = inspect(path);
    switch (target.kind) {
    case Kind::Descriptor:
        return true;
    case Kind::Special:
        if (::access(QFile::encodeName(target.path).constData(), W_OK) == 0)
            return true;
        *reason = systemErrorText(errno);
        return false;
    case Kind::Regular:
    case Kind::Missing: {
        std::optional<Replacement> file;
        return prepareReplacement(target, file, reason);
    }
    case Kind::Unusable:
        break;
    }
    *reason = systemErrorText(target.error);
    return false;
}

#else // not Q_OS_UNIX: Qt's own replacement, with every write checked here

bool checkPath(const QString &path, QString *reason)
{
    const QFileInfo info(followLinks(path));
    if (info.isDir()) {
        *reason = tr("it is a folder");
        return false;
    }
    if (info.exists() && !info.isWritable()) {
        *reason = tr("Permission denied");
        return false;
    }
    return true;
}

bool writePath(const QString &path, const FileWriter &write, QString *reason)
{
    QSaveFile file(followLinks(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *reason = file.errorString();
        return false;
    }
    CheckedOutput out(file);
    if (!runWriter(write, out, reason)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

#endif

} // namespace

bool writeFileSafely(const QString &path, const FileWriter &write, QString *error)
{
    QString reason;
    if (writePath(path, write, &reason))
        return true;
    if (error)
        *error = writeErrorText(path, reason);
    return false;
}

bool canWriteFileSafely(const QString &path, QString *error)
{
    QString reason;
    if (checkPath(path, &reason))
        return true;
    if (error)
        *error = writeErrorText(path, reason);
    return false;
}

RemovedOnSignal::RemovedOnSignal(const QByteArray &path)
{
    char *name = ::strdup(path.constData());
    if (!name)
        return;
    for (int i = 0; i < kRemovedSlots; ++i) {
        char *expected = nullptr;
        if (removedNames[i].compare_exchange_strong(expected, name)) {
            m_slot = i;
#ifdef Q_OS_UNIX
            installRemovalHandlers();
#endif
            return;
        }
    }
    std::free(name); // a full table: this file is removed by its owner alone
}

RemovedOnSignal::RemovedOnSignal(RemovedOnSignal &&other) noexcept : m_slot(std::exchange(other.m_slot, -1)) { }

RemovedOnSignal &RemovedOnSignal::operator=(RemovedOnSignal &&other) noexcept
{
    if (this != &other) {
        RemovedOnSignal gone(std::move(*this));
        m_slot = std::exchange(other.m_slot, -1);
    }
    return *this;
}

RemovedOnSignal::~RemovedOnSignal()
{
    if (m_slot >= 0)
        std::free(removedNames[m_slot].exchange(nullptr));
}

ScratchFile::ScratchFile(const QString &folder, const QString &suffix)
{
    const QByteArray where = QFile::encodeName(folder);
#ifdef Q_OS_UNIX
    m_fd = openUnnamedFile(where, O_RDWR);
    if (m_fd >= 0) {
        m_path = u"/proc/self/fd/"_qs + QString::number(m_fd);
        return;
    }
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_name = where + "/.corvalen-" + QByteArray::number(QRandomGenerator::global()->generate(), 36)
                + QFile::encodeName(suffix);
        m_fd = ::open(m_name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        error = errno;
        if (m_fd >= 0 || error != EEXIST)
            break;
    }
    if (m_fd < 0) {
        m_name.clear();
        m_error = systemErrorText(error);
        return;
    }
    m_cleanup = RemovedOnSignal(m_name);
    m_path = QFile::decodeName(m_name);
#else
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        const QString name = folder + u"/.corvalen-"_qs
                + QString::number(QRandomGenerator::global()->generate(), 36) + suffix;
        QFile file(name);
        if (file.open(QIODevice::NewOnly | QIODevice::ReadWrite)) {
            m_fd = 0;
            m_path = name;
            m_name = QFile::encodeName(name);
        } else if (file.exists()) {
            continue;
        } else {
            m_error = file.errorString();
            break;
        }
    }
#endif
}

ScratchFile::~ScratchFile()
{
#ifdef Q_OS_UNIX
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_name.isEmpty())
        ::unlink(m_name.constData());
#else
    if (!m_name.isEmpty())
        QFile::remove(m_path);
#endif
}

bool writeToStandardOutput(const FileWriter &write, QString *reason)
{
    QString why;
    std::fflush(stdout); // what went out through stdio comes first
#ifdef Q_OS_UNIX
    const bool ok = writeDirectly(STDOUT_FILENO, write, &why);
#else
    QFile file;
    bool ok = file.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (!ok) {
        why = file.errorString();
    } else {
        CheckedOutput out(file);
        ok = runWriter(write, out, &why);
    }
#endif
    if (!ok && reason)
        *reason = why;
    return ok;
}

bool writeAll(QIODevice &device, QByteArrayView data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const qint64 n = device.write(data.data() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += qsizetype(n);
    }
    return true;
}

QString scratchFolderFor(const QString &path)
{
#ifdef Q_OS_UNIX
    const Target target = inspect(path);
    const bool beside = target.kind == Kind::Regular || target.kind == Kind::Missing;
    const QString folder = beside ? QFileInfo(target.path).absolutePath() : QString();
#else
    const QFileInfo target(followLinks(path));
    const QString folder = !target.exists() || target.isFile() ? target.absolutePath() : QString();
#endif
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::tempPath();
}

QString writeErrorText(const QString &path, const QString &reason)
{
    QString why = reason.trimmed();
    if (why.endsWith(u'.')) // a library's sentence: the message gives the full stop
        why.chop(1);
    return tr("Could not write \"%1\": %2.").arg(QDir::toNativeSeparators(path), why);
}

QString systemErrorText(int errorNumber)
{
    return qt_error_string(errorNumber);
}

} // namespace corvalen
