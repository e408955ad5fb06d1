#pragma once

#include <QObject>
#include <QThread>

#include <memory>
#include <vector>

namespace corvalen {

/// Starts thread; false when the system would not start it (no memory for its stack, too many
/// threads), which Qt only warns of: such a thread never runs, and never finishes.
inline bool startThread(QThread *thread)
{
    thread->start();
    return thread->isRunning() || thread->isFinished();
}

/// Threads that were told to stop but may take a moment to notice (a reader finishing a file):
/// each is kept, with what it works on, until it ends, without the window's thread waiting for
/// it; waitAll() waits for the rest, for an owner going away whose object the threads call on.
class StoppedThreads
{
public:
    /// context: the owner, on whose thread a finished thread is let go.
    explicit StoppedThreads(QObject *context) : m_context(context) { }
    StoppedThreads(const StoppedThreads &) = delete;
    StoppedThreads &operator=(const StoppedThreads &) = delete;
    ~StoppedThreads() { waitAll(); }

    /// Keeps state (which owns thread) until thread has finished; nothing when it has already.
    void keep(std::shared_ptr<void> state, QThread *thread)
    {
        if (!thread || thread->isFinished())
            return;
        m_kept.push_back({std::move(state), thread});
        QObject::connect(thread, &QThread::finished, m_context, [this, thread] {
            thread->wait();
            std::erase_if(m_kept, [thread](const Kept &k) { return k.thread == thread; });
        }, Qt::QueuedConnection);
    }

    void waitAll()
    {
        for (const Kept &k : m_kept)
            k.thread->wait();
        m_kept.clear();
    }

private:
    struct Kept
    {
        std::shared_ptr<void> state;
        QThread *thread;
    };
    QObject *m_context;
    std::vector<Kept> m_kept;
};

} // namespace corvalen
