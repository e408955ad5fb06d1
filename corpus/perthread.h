#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvalen {

/// What each worker of a scan keeps for itself (tallies, a finder of its own), made the first time
/// the worker asks, and gathered when the scan is over.
template<typename T>
class PerThread
{
public:
    explicit PerThread(std::function<std::unique_ptr<T>()> make) : m_make(std::move(make)) { }

    /// This thread's own; from any thread.
    T &local()
    {
        const std::thread::id me = std::this_thread::get_id();
        std::lock_guard lock(m_mutex);
        for (size_t i = 0; i < m_owners.size(); ++i) {
            if (m_owners[i] == me)
                return *m_all[i];
        }
        m_owners.push_back(me);
        m_all.push_back(m_make());
        return *m_all.back();
    }

    /// Every thread's, once they are done.
    std::vector<std::unique_ptr<T>> &all() { return m_all; }

private:
    std::function<std::unique_ptr<T>()> m_make;
    std::mutex m_mutex;
    std::vector<std::thread::id> m_owners;
    std::vector<std::unique_ptr<T>> m_all;
};

} // namespace corvalen
