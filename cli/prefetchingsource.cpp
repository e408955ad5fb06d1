#include "cli/prefetchingsource.h"

#include <QFileInfo>

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

struct PrefetchingSource::Ahead
{
    qsizetype index = -1;
    QString text;
    HeldReports reports;
    std::unique_ptr<TextSource> source;
    std::future<void> done;
};

PrefetchingSource::PrefetchingSource(QStringList paths, Factory factory, ErrorReporter *reporter,
                                     qint64 maxAheadBytes)
    : m_paths(std::move(paths)),
      m_factory(std::move(factory)),
      m_reporter(reporter),
      m_inPlace(m_factory(reporter)),
      m_maxAheadBytes(maxAheadBytes)
{
}

PrefetchingSource::~PrefetchingSource()
{
    if (m_ahead && m_ahead->done.valid())
        m_ahead->done.wait();
}

void PrefetchingSource::startAhead(qsizetype index)
{
    m_ahead.reset();
    if (index >= m_paths.size())
        return;
    const QFileInfo info(m_paths.at(index));
    if (!info.isFile() || info.size() > m_maxAheadBytes)
        return; // read in place: too big to hold, or an error report best given in order
    auto ahead = std::make_unique<Ahead>();
    ahead->index = index;
    ahead->source = m_factory(&ahead->reports);
    Ahead *a = ahead.get();
    const QString path = m_paths.at(index);
    a->done = std::async(std::launch::async, [a, path] {
        a->source->readText(path, [a](QStringView chunk) { a->text.append(chunk); });
    });
    m_ahead = std::move(ahead);
}

void PrefetchingSource::readText(const QString &path, const Sink &sink)
{
    // The run asks for the files in list order; anything else is read in place.
    const bool expected = m_next < m_paths.size() && m_paths.at(m_next) == path;
    const qsizetype index = expected ? m_next : -1;
    std::unique_ptr<Ahead> ready;
    if (expected && m_ahead && m_ahead->index == index)
        ready = std::move(m_ahead);
    if (expected) {
        m_next = index + 1;
        startAhead(m_next);
    }
    if (ready) {
        ready->done.get();
        constexpr qsizetype kChunk = 1 << 20;
        const QStringView text(ready->text);
        for (qsizetype at = 0; at < text.size(); at += kChunk)
            sink(text.sliced(at, std::min(kChunk, text.size() - at)));
        if (m_reporter) {
            for (const auto &r : ready->reports.reports)
                m_reporter->reportError(r.description, r.tag, r.line);
        }
    } else {
        m_inPlace->readText(path, sink);
    }
    ++m_done;
}

} // namespace corvalen
