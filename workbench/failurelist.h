#pragma once

#include "base/errorreport.h"

#include <QStringList>

#include <mutex>

namespace corvalen {

/// What the reader reports while the workbench counts files in the background (its corpus, a
/// keyword reference): kept for the window to say, never a box from the worker. Called on the
/// count's thread.
class FailureList : public ErrorReporter
{
public:
    QStringList descriptions() const
    {
        std::lock_guard lock(m_mutex);
        return m_descriptions;
    }

protected:
    void show(const QString &, const QString &description, const QString &, int) override
    {
        std::lock_guard lock(m_mutex);
        // The engine reports each failed step of a file; its first says what happened.
        if (m_descriptions.isEmpty() || m_descriptions.constLast() != description)
            m_descriptions.append(description);
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_descriptions;
};

} // namespace corvalen
