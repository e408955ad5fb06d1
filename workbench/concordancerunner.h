#pragma once

#include "base/stoppedthreads.h"
#include "corpus/concordance.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <vector>

namespace corvalen {

/// Runs a ConcordanceSearch off the calling thread and hands its batches over on this object's
/// thread, the first at once and then at most ten times a second for at most 20 ms at a time, so
/// that a search of a million lines never floods nor holds the window's event loop.
class ConcordanceRunner : public QObject
{
    Q_OBJECT

public:
    explicit ConcordanceRunner(QObject *parent = nullptr);
    /// Stops a running search and waits for its thread (and those of searches it replaced).
    ~ConcordanceRunner() override;

    /// Starts a search, stopping one that runs without waiting for it.
    void start(ConcordanceRequest request);
    /// Ends the search: no batch comes after this call, and finished(true) follows.
    void stop();
    bool isRunning() const { return m_running; }

    /// Each file's counted words as far as the search has read them (-1: could not be read;
    /// 0 as well for a file not read yet, see isKnown()), and why a file could not be read.
    qint64 fileWords(qint32 file) const;
    bool isKnown(qint32 file) const;
    QString failure(qint32 file) const;
    /// The words that the lines' numbers stand for.
    std::shared_ptr<const CorpusVocabulary> vocabulary() const { return m_vocabulary; }

signals:
    /// A batch of lines in text order; whoever takes it moves it away.
    void found(corvalen::ConcordanceBatch &batch);
    /// Files whose counted words became known (fileWords()), [from, to).
    void filesRead(qint32 from, qint32 to);
    /// Bytes of the files read so far, 0 to 100.
    void progressChanged(int percent);
    /// The search ended: every line was found, or it was stopped.
    void finished(bool stopped);

private:
    struct Shared;
    void handOver(const std::shared_ptr<Shared> &shared);
    void retire();

    std::shared_ptr<Shared> m_shared;
    StoppedThreads m_stopped{this}; // stopped, their threads not yet done
    bool m_running = false;
    QElapsedTimer m_lastHandOver;
    std::vector<qint64> m_fileWords;
    std::vector<char> m_known;
    std::vector<QString> m_failures;
    std::shared_ptr<const CorpusVocabulary> m_vocabulary;
};

} // namespace corvalen
