#include "workbench/concordancerunner.h"

#include "corpus/corpusscan.h"

#include "engine/progress.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <deque>
#include <mutex>
#include <system_error>

namespace corvalen {

namespace {

// The window's thread takes found lines for at most this long at a time ...
constexpr qint64 kHandOverMs = 20;
// ... and at most this often, so that painting and input always get their turn.
constexpr qint64 kHandOverEveryMs = 100;

} // namespace

struct ConcordanceRunner::Shared
{
    struct FileRead
    {
        qint32 file = 0;
        qint64 words = 0;
        QString failure;
    };

    std::atomic<bool> stop{false};
    std::atomic<int> percent{0};
    std::mutex mutex;
    std::deque<ConcordanceBatch> batches; // found, not yet handed over
    std::vector<FileRead> filesRead;      // likewise
    bool handOverAsked = false;
    bool done = false;
    bool complete = false;
    std::unique_ptr<QThread> thread;
};

ConcordanceRunner::ConcordanceRunner(QObject *parent) : QObject(parent) { }

ConcordanceRunner::~ConcordanceRunner()
{
    // The threads call on this object: none may outlive it.
    retire();
    m_stopped.waitAll();
}

void ConcordanceRunner::retire()
{
    if (!m_shared)
        return;
    m_shared->stop = true;
    // A stopped search may still read the rest of a file's text: it ends on its own and is
    // forgotten then, without keeping the window's thread waiting.
    m_stopped.keep(m_shared, m_shared->thread.get());
    m_shared.reset();
}

qint64 ConcordanceRunner::fileWords(qint32 file) const
{
    return size_t(file) < m_fileWords.size() ? m_fileWords[size_t(file)] : 0;
}

bool ConcordanceRunner::isKnown(qint32 file) const
{
    return size_t(file) < m_known.size() && m_known[size_t(file)];
}

QString ConcordanceRunner::failure(qint32 file) const
{
    return size_t(file) < m_failures.size() ? m_failures[size_t(file)] : QString();
}

void ConcordanceRunner::start(ConcordanceRequest request)
{
    retire();
    const auto files = size_t(request.files.size());
    m_fileWords.assign(files, 0);
    m_known.assign(files, 0);
    m_failures.assign(files, QString());
    auto search = std::make_shared<ConcordanceSearch>(std::move(request));
    m_vocabulary = search->vocabulary();
    auto shared = std::make_shared<Shared>();
    m_shared = shared;
    m_running = true;
    m_lastHandOver.invalidate(); // the first lines go over at once

    // Batches go over through one queued call at a time: the window's thread takes what has
    // gathered when it gets to it. The thread holds no reference of its own to what it shares
    // (which holds the thread): this object keeps it until the thread is done.
    Shared *own = shared.get();
    const std::weak_ptr<Shared> weak = shared;
    const auto ask = [this, own, weak] {
        // Under the mutex.
        if (own->handOverAsked)
            return;
        own->handOverAsked = true;
        QMetaObject::invokeMethod(
                this,
                [this, weak] {
                    if (const std::shared_ptr<Shared> s = weak.lock())
                        handOver(s);
                },
                Qt::QueuedConnection);
    };
    shared->thread.reset(QThread::create([shared = own, search, ask] {
        const qint32 fileCount = qint32(search->request().files.size());
        qint32 read = 0; // files before it have been read to their end
        const auto filesUpTo = [&](qint32 end) {
            // On the search's thread, where its counts are written.
            for (; read < end && read < fileCount; ++read)
                shared->filesRead.push_back({read, search->fileWords()[size_t(read)], search->failure(read)});
        };
        Progress progress([shared, ask](Phase, qint64 done, qint64 total) {
            const int percent = total > 0 ? int(std::min<qint64>(100, done * 100 / total)) : 0;
            if (shared->percent.exchange(percent) != percent) {
                std::lock_guard lock(shared->mutex);
                ask();
            }
        });
        bool complete = false;
        QString failure; // memory ran out: the search ends there, its file named
        qint32 failedFile = -1;
        try {
            complete = search->run(
                    [&](ConcordanceBatch &&batch) {
                        std::lock_guard lock(shared->mutex);
                        // A batch of a file means every file before it has been read; a failed file
                        // comes as one line, once it is known to have failed.
                        const ConcordanceLine &first = batch.lines.front();
                        filesUpTo(first.failed ? first.file + 1 : first.file);
                        shared->batches.push_back(std::move(batch));
                        ask();
                    },
                    &shared->stop, &progress);
        } catch (const CorpusOutOfMemory &e) {
            failure = e.message();
            failedFile = qint32(search->request().files.indexOf(e.file()));
        } catch (const std::bad_alloc &) {
            failure = QCoreApplication::translate("ConcordanceRunner", "Out of memory.");
        } catch (const std::system_error &e) {
            failure = QString::fromStdString(e.code().message()) + u'.'; // what the system refused
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        std::lock_guard lock(shared->mutex);
        if (complete)
            filesUpTo(fileCount);
        // The file it happened on (or the next not yet read) is named as a file that failed.
        if (const qint32 at = std::max(failedFile, read); !failure.isEmpty() && at < fileCount)
            shared->filesRead.push_back({at, 0, failure});
        shared->complete = complete;
        shared->done = true;
        ask();
    }));
    if (!startThread(shared->thread.get())) {
        // The search ends before it began: its first file is named with the reason.
        std::lock_guard lock(shared->mutex);
        if (files > 0)
            shared->filesRead.push_back({0, 0, QCoreApplication::translate("ConcordanceRunner",
                                                                            "Out of memory: the search could not be started.")});
        shared->done = true;
        ask();
    }
}

void ConcordanceRunner::handOver(const std::shared_ptr<Shared> &shared)
{
    const auto again = [this, weak = std::weak_ptr<Shared>(shared)] {
        if (const std::shared_ptr<Shared> s = weak.lock())
            handOver(s);
    };
    if (shared == m_shared && m_lastHandOver.isValid() && m_lastHandOver.elapsed() < kHandOverEveryMs) {
        QTimer::singleShot(kHandOverEveryMs - m_lastHandOver.elapsed(), this, again);
        return;
    }
    m_lastHandOver.start();
    QElapsedTimer spent;
    spent.start();
    const auto current = [&] { return shared == m_shared && !shared->stop; };
    if (!current())
        return;
    emit progressChanged(shared->percent.load());
    for (;;) {
        std::unique_lock lock(shared->mutex);
        std::optional<ConcordanceBatch> batch;
        if (!shared->batches.empty()) {
            batch = std::move(shared->batches.front());
            shared->batches.pop_front();
        }
        std::vector<Shared::FileRead> read;
        // Files are known before the lines of the files after them are handed over.
        std::swap(read, shared->filesRead);
        const bool more = !shared->batches.empty();
        if (!more)
            shared->handOverAsked = false; // what the thread finds next asks again
        const bool done = shared->done && !more;
        lock.unlock();
        if (!read.empty()) {
            for (const Shared::FileRead &f : read) {
                m_fileWords[size_t(f.file)] = f.words;
                m_known[size_t(f.file)] = 1;
                m_failures[size_t(f.file)] = f.failure;
            }
            emit filesRead(read.front().file, read.back().file + 1);
        }
        if (!current())
            return;
        if (batch)
            emit found(*batch);
        if (!current())
            return; // stopped or replaced by whoever took the batch
        if (done) {
            m_running = false;
            emit progressChanged(100);
            emit finished(!shared->complete);
            return;
        }
        if (!more)
            return;
        if (spent.elapsed() >= kHandOverMs) {
            // The rest after the events that came meanwhile (input, painting, timers).
            QTimer::singleShot(0, this, again);
            return;
        }
    }
}

void ConcordanceRunner::stop()
{
    if (!m_shared || !m_running)
        return;
    m_shared->stop = true;
    m_running = false;
    // The thread may still read the rest of a file's text; nothing of it is shown. A search
    // started meanwhile is not the one that ended.
    QMetaObject::invokeMethod(
            this,
            [this, stopped = std::weak_ptr<Shared>(m_shared)] {
                if (stopped.lock() == m_shared)
                    emit finished(true);
            },
            Qt::QueuedConnection);
}

} // namespace corvalen
