#pragma once

// Tests of unreadable folders run as root in CI, where permission bits bind nobody: these take
// from root the capabilities that override them (Linux), so that the bits count as for any user.

/// For as long as it lives, permission bits bind the calling thread (the folder scan runs there).
class PermissionsBindThisThread
{
public:
    PermissionsBindThisThread();
    ~PermissionsBindThisThread();
    PermissionsBindThisThread(const PermissionsBindThisThread &) = delete;
    PermissionsBindThisThread &operator=(const PermissionsBindThisThread &) = delete;

    /// False when the bits still do not bind (root without the means to give up the overrides).
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
    bool m_restore = false;
};

/// Whether a program started by this one can be made to obey permission bits (see
/// bindPermissionsInChild()).
bool canBindPermissionsInChild();
/// For QProcess::setChildProcessModifier(): the program started keeps its user but loses the
/// overrides for good, its children too.
void bindPermissionsInChild();
