#include "engine/taskpool.h"

#include <QThread>

#include <algorithm>

namespace corvalen {

TaskPool::TaskPool(int maxThreads) : m_max(std::max(1, maxThreads)) { }

TaskPool::~TaskPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread &t : m_threads)
        t.join();
}

TaskPool &TaskPool::global()
{
    static TaskPool pool(QThread::idealThreadCount());
    return pool;
}

void TaskPool::start(std::function<void()> task)
{
    std::unique_lock lock(m_mutex);
    m_tasks.push_back(std::move(task));
    m_changed.notify_one();
    // Each waiting task has a free thread, or gets one while the pool may grow.
    if (qsizetype(m_tasks.size()) <= m_idle || int(m_threads.size()) >= m_max)
        return;
    try {
        m_threads.emplace_back([this] { work(); });
        return;
    } catch (...) {
        // The system will not start a thread now: those that run take the task in turn.
    }
    if (!m_threads.empty())
        return;
    std::function<void()> here = std::move(m_tasks.back());
    m_tasks.pop_back();
    lock.unlock();
    try {
        here();
    } catch (...) {
    }
}

void TaskPool::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_changed.wait(lock, [this] { return !m_tasks.empty() || m_stopping; });
        --m_idle;
        if (m_tasks.empty())
            return; // stopping, nothing left to run
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
        }
        task = nullptr; // what it holds goes before the next task comes
        lock.lock();
    }
}

} // namespace corvalen
