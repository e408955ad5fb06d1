#include "cli/prefetchingsource.h"

#include "base/filenames.h"

namespace corvalen {

namespace {

// Holds a read-ahead file's reports until the run reaches that file.
class HeldReports : public ErrorReporter
{
public:
    struct Report
    {
        QString description, tag;
        int line;
    };
    std::vector<Report> reports;

protected:
    void show(const QString &, const QString &description, const QString &tag, int line) override
    {
        reports.push_back({description, tag, line});
    }
};

} // namespace

struct PrefetchingSource::Item
{
    bool inPlace = false; // too large to hold: the run reads it itself
    bool complete = false;
    QString text; // only a complete text is kept
    HeldReports reports;
};

PrefetchingSource::PrefetchingSource(QStringList paths, Factory factory, ErrorReporter *reporter,
                                     qint64 maxAheadBytes, qsizetype aheadBudgetUnits)
    : m_paths(std::move(paths)),
      m_factory(std::move(factory)),
      m_reporter(reporter),
      m_inPlace(m_factory(reporter)),
      m_maxAheadBytes(maxAheadBytes),
      m_budget(aheadBudgetUnits)
{
    // Without a thread of its own (the system will not start one) every file is read in place.
    if (m_paths.size() > 1) {
        try {
            m_reader = std::thread([this] { readAhead(); });
        } catch (...) {
        }
    }
}

PrefetchingSource::~PrefetchingSource()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_reader.joinable())
        m_reader.join();
}

void PrefetchingSource::readAhead()
{
    HeldReports *current = nullptr;
    // One source for the thread; its reports go to the item being read.
    class Forward : public ErrorReporter
    {
    public:
        HeldReports **target;
        explicit Forward(HeldReports **t) : target(t) { }

    protected:
        void show(const QString &, const QString &description, const QString &tag, int line) override
        {
            (*target)->reports.push_back({description, tag, line});
        }
    } forward(&current);
    const std::unique_ptr<TextSource> source = m_factory(&forward);

    for (const QString &path : std::as_const(m_paths)) {
        auto item = std::make_unique<Item>();
        const FileStatus info = fileStatus(path);
        item->inPlace = info.isRegularFile && info.size > m_maxAheadBytes;
        if (!item->inPlace) {
            current = &item->reports;
            // A small file can hold a huge text (a packed document): past the budget the text is
            // dropped and the file left to be read in place, so that it is never held whole.
            item->complete = source->readText(path, [&item, this](QStringView chunk) {
                if (item->inPlace)
                    return;
                if (item->text.size() + chunk.size() > m_budget) {
                    item->inPlace = true;
                    item->text = QString();
                    return;
                }
                item->text.append(chunk);
            });
            current = nullptr;
            if (!item->complete || item->inPlace)
                item->text = QString();
            if (item->inPlace)
                item->reports.reports.clear(); // reading in place reports again
        }
        std::unique_lock lock(m_mutex);
        // Wait while the held text is over budget; an empty queue always takes one more file.
        m_changed.wait(lock, [this] { return m_stop || m_queue.empty() || m_queuedUnits < m_budget; });
        if (m_stop)
            return;
        m_queuedUnits += item->text.size();
        m_queue.push_back(std::move(item));
        lock.unlock();
        m_changed.notify_all();
    }
}

bool PrefetchingSource::readText(const QString &path, const Sink &sink)
{
    // The run asks for the files in list order; anything else is read in place.
    std::unique_ptr<Item> item;
    if (m_reader.joinable() && m_next < m_paths.size() && m_paths.at(m_next) == path) {
        ++m_next;
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_queue.empty(); });
        item = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedUnits -= item->text.size();
        lock.unlock();
        m_changed.notify_all();
    }
    bool complete = false;
    if (item && !item->inPlace) {
        complete = item->complete;
        constexpr qsizetype kChunk = 1 << 20;
        const QStringView text(item->text);
        for (qsizetype at = 0; at < text.size(); at += kChunk)
            sink(text.sliced(at, std::min(kChunk, text.size() - at)));
        if (m_reporter) {
            for (const auto &r : item->reports.reports)
                m_reporter->reportError(r.description, r.tag, r.line);
        }
    } else {
        complete = m_inPlace->readText(path, sink);
    }
    ++m_done;
    return complete;
}

} // namespace corvalen
