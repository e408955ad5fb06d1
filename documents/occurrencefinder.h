#pragma once

#include "base/stoppedthreads.h"
#include "engine/wordrules.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace corvalen {

/// One occurrence of a word in its context, or a file that could not be read.
struct Occurrence
{
    qint32 file = 0; ///< index in the search's list of files
    QString left;    ///< up to the width's characters before it, in the file
    QString text;    ///< the raw piece of text the rules counted as the word (or phrase)
    QString right;   ///< up to the width's characters after it
    /// The file could not be read; text holds the reason (left and right are empty).
    bool failed = false;
};

/// An occurrence as a list of a million of them keeps it: its three parts in one string, in half
/// the memory of three strings each. Made on the search's thread, so that the window's thread
/// only stores it.
struct ContextLine
{
    QString text; ///< left, occurrence and right, one after the other (a failed file: the reason)
    qint32 file = 0;
    qint32 leftLength = 0;
    qint32 wordLength = 0;
    bool failed = false;

    static ContextLine from(const Occurrence &o);
    QStringView left() const { return QStringView(text).first(leftLength); }
    QStringView word() const { return QStringView(text).sliced(leftLength, wordLength); }
    QStringView right() const { return QStringView(text).sliced(leftLength + wordLength); }
};

/// What to look for: a word as a count of these files with these rules shows it.
struct OccurrenceQuery
{
    static constexpr int kMinWidth = 20;
    static constexpr int kMaxWidth = 200;
    static constexpr int kDefaultWidth = 40;

    QStringList files;
    WordRules rules;
    bool ignoreCase = true;
    QString word;  ///< as counted; with grouped forms, any form of the group
    int width = kDefaultWidth; ///< characters of context on each side (code points)
    /// The rules made ready once (see CountOptions::finder); null: the search makes them.
    std::shared_ptr<const WordFinder> finder;
};

/// Finds the occurrences of one counted word in files, reading them again through the document
/// engine. An occurrence is a raw piece of text that the rules themselves (WordFinder) turn into
/// the word, or into any form of its group when the rules group words by their stems, so the
/// occurrences of a word are exactly as many as its count.
///
/// Contexts run across paragraph ends and stop at the file's ends; control characters and line
/// ends are shown as spaces and a character beyond U+FFFF is never cut in half. Only a window of
/// each file's text around the place being searched is kept, never the whole file.
class OccurrenceFinder
{
public:
    using Found = std::function<void(Occurrence &&occurrence)>;

    /// Null, with error set, when the rules cannot be loaded (a stop-word list that cannot be
    /// read).
    static std::unique_ptr<OccurrenceFinder> create(const OccurrenceQuery &query, QString *error = nullptr);
    ~OccurrenceFinder();

    /// The word as the rules count it: a word typed by a user ("Don't") becomes the word a count
    /// shows ("dont"); a word the rules would not count, or turn into several, stays as given.
    static QString countedForm(const WordFinder &finder, const QString &word);

    /// Reads the files in order and hands each occurrence to found, in file order and then text
    /// order, on the calling thread. A file that cannot be read gives one failed entry. Stops
    /// soon after stop becomes true; returns false when it stopped early.
    bool run(const Found &found, const std::atomic<bool> *stop = nullptr);

private:
    OccurrenceFinder(const OccurrenceQuery &query, std::unique_ptr<WordFinder> finder);
    struct FileSearch;
    bool matches(QStringView word);

    OccurrenceQuery m_query;
    std::unique_ptr<WordFinder> m_finder;
    QString m_target; // the word, or its group's key
    QHash<QString, bool> m_inGroup; // words met, and whether they are forms of the target's group
};

/// Runs an OccurrenceFinder off the calling thread and hands its occurrences over in small
/// batches on this object's thread, the first as soon as it is found, never for long at a time.
class OccurrenceSearch : public QObject
{
    Q_OBJECT

public:
    explicit OccurrenceSearch(QObject *parent = nullptr);
    /// Stops a running search and waits for its thread (and those of searches it replaced).
    ~OccurrenceSearch() override;

    /// Starts a search, stopping one that runs without waiting for it; false with error set when
    /// the rules cannot be loaded.
    bool start(const OccurrenceQuery &query, QString *error = nullptr);
    /// Ends the search: no batch comes after this call, and finished(true) follows.
    void stop();
    bool isRunning() const { return m_running; }

signals:
    void found(const QList<corvalen::ContextLine> &batch);
    /// The search ended: every occurrence was found, or it was stopped.
    void finished(bool stopped);

private:
    struct Shared;
    void handOver(const std::shared_ptr<Shared> &shared);
    void retire();

    std::shared_ptr<Shared> m_shared;
    StoppedThreads m_stopped{this}; // stopped, their threads not yet done
    bool m_running = false;
    QElapsedTimer m_lastHandOver;
};

} // namespace corvalen
