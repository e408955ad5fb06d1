#include "filelist/scanqueue.h"

#include "engine/backgroundtask.h"


namespace corvalen {

ScanQueue::ScanQueue(QObject *parent) : QObject(parent)
{
    connect(&m_watcher, &QFutureWatcher<QStringList>::finished, this, &ScanQueue::onFinished);
}

ScanQueue::~ScanQueue()
{
    cancelAll();
}

void ScanQueue::enqueue(Job job, bool busy)
{
    m_pending.enqueue({std::move(job), busy});
    if (!m_running)
        startNext();
}

void ScanQueue::cancelAll()
{
    m_pending.clear();
    if (m_running) {
        m_cancel->store(true);
        m_watcher.waitForFinished();
        m_running = false;
    }
    if (m_busy) {
        m_busy = false;
        emit busyChanged(false);
    }
}

void ScanQueue::startNext()
{
    if (m_pending.isEmpty()) {
        if (m_busy) {
            m_busy = false;
            emit busyChanged(false);
        }
        emit idle();
        return;
    }
    Pending next = m_pending.dequeue();
    if (next.busy != m_busy) {
        m_busy = next.busy;
        emit busyChanged(m_busy);
    }
    m_running = true;
    // Each scan gets its own flag, so that a cancelled scan cannot stop the next one.
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    auto cancel = m_cancel;
    Job job = std::move(next.job);
    m_watcher.setFuture(runInBackground([job = std::move(job), cancel]() {
        return job([cancel] { return cancel->load(std::memory_order_relaxed); });
    }));
}

void ScanQueue::onFinished()
{
    if (!m_running)
        return; // cancelled and already waited for
    const bool cancelled = m_cancel && m_cancel->load();
    m_running = false;
    if (!cancelled)
        emit pathsReady(m_watcher.result());
    startNext();
}

} // namespace corvalen
