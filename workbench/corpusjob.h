#pragma once

#include "base/stoppedthreads.h"
#include "engine/progress.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

namespace corvalen {

/// Runs one piece of a tool's work at a time off the window's thread (the corpus is read on both
/// cores by the work itself): its progress a few times a second, Stop at once. The work leaves
/// its result where its completion finds it; a stopped or replaced work's result is never shown.
class CorpusJob : public QObject
{
    Q_OBJECT

public:
    /// Runs on the job's thread; stop is set when the work is no longer wanted, and progress's
    /// reports become progressChanged().
    using Work = std::function<void(const std::atomic<bool> &stop, Progress &progress)>;

    explicit CorpusJob(QObject *parent = nullptr);
    /// Stops the work and waits for its thread (and for those of works it replaced).
    ~CorpusJob() override;

    /// Starts work, stopping one that runs (without waiting for it); done runs on this object's
    /// thread when the work has ended without being stopped, then finished(false) comes.
    void start(Work work, std::function<void()> done);
    /// Ends the work as far as anyone sees: finished(true) follows, done never.
    void stop();
    bool isRunning() const { return m_running; }

signals:
    void progressChanged(int percent);
    void finished(bool stopped);
    /// The work ended without a result (memory ran out): reason says why; finished() does not follow.
    void failed(const QString &reason);

private:
    struct Run;
    void retire();

    std::shared_ptr<Run> m_run;
    StoppedThreads m_stopped{this}; // stopped, their threads not yet done
    bool m_running = false;
    QTimer m_progressTimer;
};

} // namespace corvalen
