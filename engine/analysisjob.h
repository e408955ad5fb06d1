#pragma once

#include "base/errorreport.h"
#include "engine/analysisrun.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

namespace corvalen {

/// Hands error reports made on a worker thread to a reporter on the thread of `context`, and
/// waits until the user has seen each one, so a run goes on only after its box is closed.
class CrossThreadErrorReporter : public ErrorReporter
{
public:
    CrossThreadErrorReporter(QObject *context, ErrorReporter *target)
        : m_context(context), m_target(target)
    {
    }
    /// From now on reports are dropped and nobody waits for one (the program is ending).
    void discard() { m_discarded = true; }

protected:
    void show(const QString &message, const QString &description, const QString &locationTag,
              int line) override;

private:
    QPointer<QObject> m_context;
    ErrorReporter *m_target;
    std::atomic<bool> m_discarded{false};
};

/// Runs one analysis at a time off the calling thread and reports its progress and result there.
class AnalysisJob : public QObject
{
    Q_OBJECT

public:
    explicit AnalysisJob(QObject *parent = nullptr);
    ~AnalysisJob() override;

    bool isRunning() const { return m_running; }

    /// Starts counting the given files with a snapshot of the options; false (and nothing
    /// happens) while a run is going. source and reporter must outlive the run; reporter is
    /// called on this object's thread, the worker waiting for it.
    bool start(const QStringList &paths, const CountOptions &options, TextSource *source,
               ErrorReporter *reporter);
    /// Asks a running analysis to stop; finished() still comes, with what was counted so far.
    void cancel();
    /// Waits for the worker (used at exit and by tests).
    void wait();

signals:
    /// Progress of the current phase, 0 to 100, at a bounded rate.
    void progressChanged(corvalen::Phase phase, int percent);
    void finished(const corvalen::ResultTable &table);

private:
    struct Worker;
    std::shared_ptr<Worker> m_worker;
    bool m_running = false;
};

} // namespace corvalen
