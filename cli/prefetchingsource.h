#pragma once

#include "base/errorreport.h"
#include "engine/analysisrun.h"

#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace corvalen {

/// Reads the files of a run on a second thread, ahead of the engine that counts them.
///
/// Sources are made by a factory that takes the reporter their reports go to. One reader thread
/// reads the files in list order into memory, with their error reports held back, while the run
/// counts earlier ones; when the run asks for a file, its text and then its reports are handed
/// on, so the run sees exactly what reading it in place would give, in the same order. The text
/// held ahead stays under a budget, and files larger than maxAheadBytes on disk are left to be
/// read in place when their turn comes: memory stays bounded whatever the files hold.
class PrefetchingSource : public TextSource
{
public:
    using Factory = std::function<std::unique_ptr<TextSource>(ErrorReporter *reporter)>;

    PrefetchingSource(QStringList paths, Factory factory, ErrorReporter *reporter,
                      qint64 maxAheadBytes = qint64(16) << 20,
                      qsizetype aheadBudgetUnits = qsizetype(16) << 20);
    ~PrefetchingSource() override;

    bool readText(const QString &path, const Sink &sink) override;

    /// Files handed on so far.
    qsizetype filesDone() const { return m_done; }

private:
    struct Item;

    void readAhead();

    QStringList m_paths;
    Factory m_factory;
    ErrorReporter *m_reporter;
    std::unique_ptr<TextSource> m_inPlace;
    qint64 m_maxAheadBytes;
    qsizetype m_budget;
    qsizetype m_next = 0;
    qsizetype m_done = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Item>> m_queue;
    qsizetype m_queuedUnits = 0;
    bool m_stop = false;
    std::thread m_reader;
};

} // namespace corvalen
