#pragma once

#include <QElapsedTimer>

#include <atomic>
#include <functional>

namespace corvalen {

/// Phases of an analysis run, as the progress bar shows them.
enum class Phase { Reading, Ordering, Writing };

/// Passes (phase, done, total) on at a bounded rate, never once per word, and carries the
/// request to cancel. report() is called from the working thread; cancel() from any thread.
class Progress
{
public:
    using Callback = std::function<void(Phase phase, qint64 done, qint64 total)>;

    explicit Progress(Callback callback = {}, int intervalMs = 40);

    /// Forwards the report when the interval has passed, at a phase change, or at a phase's end.
    void report(Phase phase, qint64 done, qint64 total);

    void cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }

private:
    Callback m_callback;
    int m_intervalMs;
    QElapsedTimer m_timer;
    int m_lastPhase = -1;
    std::atomic<bool> m_cancelled{false};
};

} // namespace corvalen

#include <QMetaType>
Q_DECLARE_METATYPE(corvalen::Phase)
