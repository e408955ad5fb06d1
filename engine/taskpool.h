#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corvalen {

/// Runs tasks on threads of its own, at most maxThreads at a time; a thread is started when a
/// task finds none free, and kept for the next tasks.
///
/// A thread that the system will not start (no memory for its stack, too many threads) is never
/// waited for: the task waits for one of the pool's threads that did start, or, when none did,
/// runs on the thread that hands it over, before start() returns. So whoever waits for a task
/// sees it end, however short of threads the system is.
class TaskPool
{
public:
    explicit TaskPool(int maxThreads);
    /// Runs the tasks still waiting, then ends the threads.
    ~TaskPool();
    TaskPool(const TaskPool &) = delete;
    TaskPool &operator=(const TaskPool &) = delete;

    /// Hands a task over. It must not throw (what it throws is dropped).
    void start(std::function<void()> task);
    int maxThreads() const { return m_max; }

    /// The pool of short tasks that never wait for each other (the slices of a count), with as
    /// many threads as the machine has cores.
    static TaskPool &global();

private:
    void work();

    const int m_max;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    std::vector<std::thread> m_threads;
    qsizetype m_idle = 0;
    bool m_stopping = false;
};

} // namespace corvalen
