#include "engine/analysisjob.h"

#include "base/stoppedthreads.h"

#include <QSemaphore>
#include <QThread>

namespace corvalen {

void CrossThreadErrorReporter::show(const QString &, const QString &description,
                                    const QString &locationTag, int line)
{
    QObject *context = m_context.data();
    if (!context || !m_target || m_discarded)
        return;
    ErrorReporter *target = m_target;
    if (QThread::currentThread() == context->thread()) {
        target->reportError(description, locationTag, line);
        return;
    }
    // The target builds the text again on its own thread. Wait for the user to close the box,
    // but never past the end of the program: a blocking queued call would deadlock an owner
    // that is waiting for this thread.
    auto seen = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(context, [=] {
        target->reportError(description, locationTag, line);
        seen->release();
    });
    while (!seen->tryAcquire(1, 50)) {
        if (m_discarded)
            return;
    }
}

struct AnalysisJob::Worker
{
    QThread *thread = nullptr;
    std::unique_ptr<Progress> progress;
    std::unique_ptr<CrossThreadErrorReporter> reporter;
};

AnalysisJob::AnalysisJob(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<corvalen::ResultTable>();
    qRegisterMetaType<corvalen::Phase>();
}

AnalysisJob::~AnalysisJob()
{
    cancel();
    if (m_worker && m_worker->reporter)
        m_worker->reporter->discard();
    wait();
}

bool AnalysisJob::start(const QStringList &paths, const CountOptions &options, TextSource *source,
                        ErrorReporter *reporter)
{
    if (m_running)
        return false;
    m_running = true;
    auto worker = std::make_shared<Worker>();
    m_worker = worker;
    QPointer<AnalysisJob> self(this);
    worker->progress = std::make_unique<Progress>([self](Phase phase, qint64 done, qint64 total) {
        const int percent = total > 0 ? int(double(done) / double(total) * 100.0) : 100;
        if (self)
            QMetaObject::invokeMethod(self, [self, phase, percent] {
                if (self)
                    emit self->progressChanged(phase, percent);
            });
    });
    worker->reporter = std::make_unique<CrossThreadErrorReporter>(this, reporter);
    const auto work = [self, worker, paths, options, source] {
        ResultTable table =
                runAnalysis(paths, options, *source, worker->progress.get(), worker->reporter.get());
        QMetaObject::invokeMethod(
                self, [self, table = std::move(table)] {
                    if (!self)
                        return;
                    self->m_running = false;
                    emit self->finished(table);
                },
                Qt::QueuedConnection);
    };
    worker->thread = QThread::create(work);
    connect(worker->thread, &QThread::finished, worker->thread, &QObject::deleteLater);
    if (!startThread(worker->thread)) {
        // The system will start no thread (no memory for its stack): the run is made here, the
        // window waiting for it, rather than never (Qt only warns of such a thread).
        delete worker->thread;
        worker->thread = nullptr;
        work();
    }
    return true;
}

void AnalysisJob::cancel()
{
    if (m_worker && m_worker->progress)
        m_worker->progress->cancel();
}

void AnalysisJob::wait()
{
    if (m_worker && m_worker->thread && m_running)
        m_worker->thread->wait();
}

} // namespace corvalen
