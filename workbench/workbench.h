#pragma once

#include "corpus/concordance.h"
#include "documents/documentengine.h"
#include "engine/analysisjob.h"
#include "engine/resulttable.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvalen {

class ConcordanceRunner;
class FailureList;
class Prompter;
struct WordListSnapshot;

/// A query as the concordance takes it.
struct WorkbenchQuery
{
    QString text;
    /// A width that gives each side as many characters as the concordance has room for.
    static constexpr int kFitToWindow = 0;

    QueryMode mode = QueryMode::Words;
    bool matchCase = false; ///< only where the count keeps letter case
    int width = kFitToWindow; ///< characters of context on each side, or kFitToWindow
    /// Only the hits with this word (as counted) within companionLeft words before them or
    /// companionRight after: a collocate's lines. Empty: every hit.
    QString companion;
    int companionLeft = 0;
    int companionRight = 0;

    friend bool operator==(const WorkbenchQuery &, const WorkbenchQuery &) = default;
};

/// What the tabs of one workbench window share: the corpus (its files, the count options and word
/// rules in force, its word list and words) and the current query with its hits, found once and
/// read by every tab. The tabs ask each other for things (a query, a hit in its file) through it.
class Workbench : public QObject
{
    Q_OBJECT

public:
    /// options as a run takes them; their finder is made here when they bring none.
    Workbench(QStringList files, CountOptions options, Prompter &prompter, QObject *parent = nullptr);
    ~Workbench() override;

    const QStringList &files() const { return m_files; }
    /// The files' names, as lines and rows show them.
    const QStringList &fileLabels() const { return m_labels; }
    qint32 fileCount() const { return qint32(m_files.size()); }
    const CountOptions &options() const { return m_options; }
    std::shared_ptr<const WordFinder> finder() const { return m_options.finder; }
    Prompter &prompter() const { return m_prompter; }

    // The word list

    /// A run's rows, as they were: no count of its own.
    void setWordList(std::shared_ptr<const WordListSnapshot> snapshot);
    /// Counts the files off the window's thread, for the word list and the corpus's words.
    void countWordList();
    bool isCounting() const { return m_job && m_job->isRunning(); }
    std::shared_ptr<const WordListSnapshot> wordList() const { return m_wordList; }
    /// What the count's reader reported (files that could not be read), one text each.
    QStringList countFailures() const;
    /// The corpus's counted words (tokens); -1 while unknown.
    qint64 corpusWords() const { return m_corpusWords; }
    /// "12 files, 1,482,330 words · one count for all files · letter case ignored · ...".
    QString corpusLine() const;
    /// What the corpus is called in a window's title: its first file's name and how many follow
    /// ("emma.txt and 5 more"); empty without files.
    QString corpusName() const;

    // The query and its hits

    /// Searches for a query (every tab shows its hits); false, with error set, for an invalid
    /// query, which leaves the lines as they were.
    bool search(const WorkbenchQuery &query, QString *error = nullptr);
    void stopSearch();
    bool isSearching() const;
    /// The query of the lines held (valid once a search has started).
    const WorkbenchQuery &query() const { return m_query; }
    /// The characters on each side that fill the concordance's width now: what a query that fits
    /// the window takes. The concordance measures it through fitter (without one: the default).
    int fittedWidth() const;
    void setWidthFitter(std::function<int()> fitter) { m_widthFitter = std::move(fitter); }
    /// The characters on each side the lines held were made with.
    int lineWidth() const { return m_lineWidth; }
    bool hasQuery() const { return m_parsed != nullptr; }
    const CorpusQuery *parsedQuery() const { return m_parsed.get(); }

    /// The lines found, in text order (files in corpus order); a file that could not be read is
    /// one failed line.
    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    const ConcordanceLine &line(qsizetype i) const { return *m_lines[size_t(i)]; }
    /// Lines that are hits (not failed files).
    qint64 hitCount() const { return m_hits; }
    /// The lines of a file: [first, first + count) in text order.
    struct Range
    {
        qsizetype first = 0;
        qsizetype count = 0;
    };
    Range fileLines(qint32 file) const;
    /// A file's counted words once the search has read it (-1: it could not be read).
    qint64 fileWords(qint32 file) const;
    bool fileWordsKnown(qint32 file) const;
    QString fileFailure(qint32 file) const;
    /// The lines as the search handed them over, for work on another thread (only when no search
    /// runs: a search adds to them), and the words their numbers stand for.
    std::shared_ptr<const ConcordanceLines> sharedLines() const { return m_batches; }
    std::shared_ptr<const CorpusVocabulary> vocabulary() const;

    // Between the tabs

    /// The concordance of a word, as "Show in Context" asks for it.
    void showInConcordance(const QString &word);
    /// The concordance of a query, on its tab.
    void showConcordance(const WorkbenchQuery &query) { emit concordanceRequested(query); }
    /// A line's hit in its file (File View).
    void showHit(qsizetype line);
    /// The number the concordance shows a line with (from 1), in the order it shows the lines
    /// now; the concordance tells it through numbering (text order without it).
    qsizetype shownNumber(qsizetype line) const;
    void setNumbering(std::function<qsizetype(qsizetype line)> numbering);
    /// Brings a tab to the front.
    void showTab(QWidget *tab) { emit tabRequested(tab); }

signals:
    void wordListReady();
    /// The count for the word list, 0 to 100.
    void countProgress(int percent);
    /// The corpus line changed (the words became known).
    void corpusChanged();

    /// The lines held are about to go (a new search): whoever shows them lets go of them.
    void linesAboutToBeCleared();
    void searchStarted();
    /// Lines [from, to) were added.
    void linesAdded(qsizetype from, qsizetype to);
    /// The counted words of files [from, to) became known.
    void filesRead(qint32 from, qint32 to);
    void searchProgress(int percent);
    void searchFinished(bool stopped);
    /// The concordance shows its lines in another order: their numbers changed.
    void numberingChanged();

    void concordanceRequested(const corvalen::WorkbenchQuery &query);
    void hitRequested(qsizetype line);
    void tabRequested(QWidget *tab);

private:
    void addBatch(ConcordanceBatch &batch);
    void countFinished(const ResultTable &table);
    void learnWords();

    QStringList m_files;
    QStringList m_labels;
    CountOptions m_options;
    Prompter &m_prompter;

    std::shared_ptr<const WordListSnapshot> m_wordList;
    qint64 m_corpusWords = -1;
    std::unique_ptr<FailureList> m_failures;
    std::unique_ptr<DocumentEngine> m_engine;
    std::unique_ptr<AnalysisJob> m_job;
    ConcordanceRunner *m_wordScan = nullptr; // the words alone, when the word list cannot tell them

    ConcordanceRunner *m_runner = nullptr;
    WorkbenchQuery m_query;
    std::function<int()> m_widthFitter;
    int m_lineWidth = ConcordanceRequest::kDefaultWidth;
    std::function<qsizetype(qsizetype)> m_numbering;
    std::shared_ptr<const CorpusQuery> m_parsed;
    std::shared_ptr<ConcordanceLines> m_batches;
    std::vector<const ConcordanceLine *> m_lines;
    std::vector<qsizetype> m_fileFirst;
    std::vector<qsizetype> m_fileCount;
    qint64 m_hits = 0;
};

} // namespace corvalen

Q_DECLARE_METATYPE(corvalen::WorkbenchQuery)
