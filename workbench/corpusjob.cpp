#include "workbench/corpusjob.h"

#include "corpus/corpusscan.h"

#include <QThread>

#include <system_error>

namespace corvalen {

struct CorpusJob::Run
{
    std::atomic<bool> stop{false};
    std::atomic<int> percent{0};
    std::unique_ptr<QThread> thread;
};

CorpusJob::CorpusJob(QObject *parent) : QObject(parent)
{
    // Progress is read, not pushed: the work reports as often as it likes.
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_run)
            emit progressChanged(m_run->percent.load());
    });
}

CorpusJob::~CorpusJob()
{
    // The threads call on this object: none may outlive it.
    retire();
    m_stopped.waitAll();
}

void CorpusJob::retire()
{
    if (!m_run)
        return;
    m_run->stop = true;
    // A stopped work may take a moment to notice: it ends on its own and is forgotten then,
    // without the window's thread waiting for it.
    m_stopped.keep(m_run, m_run->thread.get());
    m_run.reset();
}

void CorpusJob::start(Work work, std::function<void()> done)
{
    retire();
    auto run = std::make_shared<Run>();
    m_run = run;
    m_running = true;
    const std::weak_ptr<Run> weak = run;
    Run *own = run.get(); // the thread holds no reference to what holds it
    run->thread.reset(QThread::create([this, own, weak, work = std::move(work), done = std::move(done)]() mutable {
        // Work that stops by its Progress (a count) is cancelled through it as well.
        Progress *self = nullptr;
        Progress progress([own, &self](Phase, qint64 doneBytes, qint64 total) {
            own->percent = total > 0 ? int(std::min<qint64>(100, doneBytes * 100 / total)) : 0;
            if (own->stop && self)
                self->cancel();
        });
        self = &progress;
        QString failure;
        try {
            work(own->stop, progress);
        } catch (const CorpusOutOfMemory &e) {
            failure = e.message();
        } catch (const std::bad_alloc &) {
            failure = tr("Out of memory.");
        } catch (const std::system_error &e) {
            failure = QString::fromStdString(e.code().message()) + u'.'; // what the system refused
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        QMetaObject::invokeMethod(
                this,
                [this, weak, failure, done = std::move(done)] {
                    const std::shared_ptr<Run> r = weak.lock();
                    if (!r || r != m_run || r->stop)
                        return; // stopped or replaced meanwhile
                    m_running = false;
                    m_progressTimer.stop();
                    if (!failure.isEmpty()) {
                        emit failed(failure);
                        return;
                    }
                    done();
                    if (m_run == r) { // done may have started another work
                        emit progressChanged(100);
                        emit finished(false);
                    }
                },
                Qt::QueuedConnection);
    }));
    m_progressTimer.start();
    emit progressChanged(0);
    if (!startThread(run->thread.get())) {
        // Said as a failure of the work, once this call has returned, as any other would be.
        QMetaObject::invokeMethod(
                this,
                [this, weak] {
                    const std::shared_ptr<Run> r = weak.lock();
                    if (!r || r != m_run || r->stop)
                        return;
                    m_running = false;
                    m_progressTimer.stop();
                    emit failed(tr("Out of memory: the work could not be started."));
                },
                Qt::QueuedConnection);
    }
}

void CorpusJob::stop()
{
    if (!m_run || !m_running)
        return;
    m_run->stop = true;
    m_running = false;
    m_progressTimer.stop();
    QMetaObject::invokeMethod(
            this,
            [this, stopped = std::weak_ptr<Run>(m_run)] {
                if (stopped.lock() == m_run)
                    emit finished(true);
            },
            Qt::QueuedConnection);
}

} // namespace corvalen
