#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QQueue>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace corvalen {

/// Runs folder scans one after the other on a worker thread, so that the window stays usable
/// during a scan of a large tree, and hands each scan's paths back on the window's thread in the
/// order the scans were asked for.
class ScanQueue : public QObject
{
    Q_OBJECT

public:
    using Cancelled = std::function<bool()>;
    /// A scan: returns the paths to append, polling cancelled now and then.
    using Job = std::function<QStringList(const Cancelled &cancelled)>;

    explicit ScanQueue(QObject *parent = nullptr);
    ~ScanQueue() override;

    /// busy: the scan wants the busy pointer while it runs.
    void enqueue(Job job, bool busy);
    bool isIdle() const { return !m_running && m_pending.isEmpty(); }
    /// Stops the running scan and drops the waiting ones; blocks until the worker has returned.
    void cancelAll();

signals:
    void pathsReady(const QStringList &paths);
    void busyChanged(bool busy);
    void idle();

private:
    struct Pending
    {
        Job job;
        bool busy = false;
    };

    void startNext();
    void onFinished();

    QQueue<Pending> m_pending;
    QFutureWatcher<QStringList> m_watcher;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_running = false;
    bool m_busy = false;
};

} // namespace corvalen
