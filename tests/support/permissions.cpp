#include "support/permissions.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kOverrides[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH};

struct Capabilities
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};

    bool read() { return syscall(SYS_capget, &header, data) == 0; }
    bool write() { return syscall(SYS_capset, &header, data) == 0; }
    bool effective(int cap) const { return data[cap / 32].effective & (1u << (cap % 32)); }
    void setEffective(int cap, bool on)
    {
        if (on)
            data[cap / 32].effective |= 1u << (cap % 32);
        else
            data[cap / 32].effective &= ~(1u << (cap % 32));
    }
};

bool overridden()
{
    Capabilities caps;
    if (!caps.read())
        return geteuid() == 0;
    for (int cap : kOverrides) {
        if (caps.effective(cap))
            return true;
    }
    return false;
}

} // namespace

PermissionsBindThisThread::PermissionsBindThisThread()
{
    Capabilities caps;
    if (!caps.read()) {
        m_ok = geteuid() != 0;
        return;
    }
    m_restore = caps.effective(CAP_DAC_OVERRIDE) || caps.effective(CAP_DAC_READ_SEARCH);
    for (int cap : kOverrides)
        caps.setEffective(cap, false);
    m_ok = caps.write() && !overridden();
}

PermissionsBindThisThread::~PermissionsBindThisThread()
{
    if (!m_restore)
        return;
    Capabilities caps;
    if (caps.read()) {
        for (int cap : kOverrides)
            caps.setEffective(cap, true); // still permitted: only the effective set was cleared
        caps.write();
    }
}

bool canBindPermissionsInChild()
{
    if (!overridden())
        return true;
    Capabilities caps;
    return caps.read() && caps.effective(CAP_SETPCAP);
}

void bindPermissionsInChild()
{
    // A root process gets its capabilities again at exec, but never beyond its bounding set.
    for (int cap : kOverrides)
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    Capabilities caps;
    if (caps.read()) {
        for (int cap : kOverrides)
            caps.setEffective(cap, false);
        caps.write();
    }
}

#else

// Elsewhere root is left as it is: the tests that need the bits skip.
PermissionsBindThisThread::PermissionsBindThisThread() : m_ok(true) { }
PermissionsBindThisThread::~PermissionsBindThisThread() = default;
bool canBindPermissionsInChild() { return true; }
void bindPermissionsInChild() { }

#endif
