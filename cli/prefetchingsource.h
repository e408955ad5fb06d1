#pragma once

#include "app/errorreport.h"
#include "engine/analysisrun.h"

#include <QStringList>

#include <functional>
#include <future>
#include <memory>

namespace corvalen {

/// Reads the next file of a run on a second thread while the engine counts the current one.
///
/// Sources are made by a factory that takes the reporter their reports go to. The file after the
/// one asked for is read ahead (when it is no larger than maxAheadBytes on disk) into memory,
/// with its error reports held back; when the run asks for it, its text and then its reports are
/// handed on, so the run sees exactly what reading it in place would give, in the same order.
/// Larger files are read in place: the memory stays bounded whatever the run holds.
class PrefetchingSource : public TextSource
{
public:
    using Factory = std::function<std::unique_ptr<TextSource>(ErrorReporter *reporter)>;

    PrefetchingSource(QStringList paths, Factory factory, ErrorReporter *reporter,
                      qint64 maxAheadBytes = qint64(16) << 20);
    ~PrefetchingSource() override;

    void readText(const QString &path, const Sink &sink) override;

    /// Files handed on so far.
    qsizetype filesDone() const { return m_done; }

private:
    struct Ahead;

    void startAhead(qsizetype index);

    QStringList m_paths;
    Factory m_factory;
    ErrorReporter *m_reporter;
    std::unique_ptr<TextSource> m_inPlace;
    qint64 m_maxAheadBytes;
    qsizetype m_next = 0;
    qsizetype m_done = 0;
    std::unique_ptr<Ahead> m_ahead;
};

} // namespace corvalen
