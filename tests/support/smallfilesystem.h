#pragma once

#include <QString>
#include <QTemporaryDir>

namespace corvalen::testing {

/// A tmpfs of a given size mounted for one test, to run out of space for real. Mounting needs
/// root (CAP_SYS_ADMIN) on Linux; where it is not permitted, isMounted() is false and the test
/// skips with error().
class SmallFileSystem
{
public:
    explicit SmallFileSystem(qint64 bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool isMounted() const { return m_mounted; }
    QString error() const { return m_error; }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    /// Takes the free space but about keep bytes with a file named "filler"; false when it
    /// could not.
    bool fill(qint64 keep = 0);
    /// Mounts it again read-only.
    bool makeReadOnly();

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_error;
};

} // namespace corvalen::testing
