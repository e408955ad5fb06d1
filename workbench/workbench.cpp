#include "workbench/workbench.h"

#include "base/errorreport.h"
#include "base/prompter.h"
#include "corpus/collocates.h"
#include "engine/taskpool.h"
#include "engine/wordtally.h"
#include "workbench/concordancerunner.h"
#include "workbench/failurelist.h"
#include "workbench/wordlistsnapshot.h"

#include <QLocale>

namespace corvalen {

namespace {

// Freeing a million lines takes tens of milliseconds: another thread does it.
template<typename T>
void releaseElsewhere(std::shared_ptr<T> &held)
{
    if (!held)
        return;
    TaskPool::global().start([held = std::move(held)]() mutable { held.reset(); });
    held = nullptr;
}

} // namespace

Workbench::Workbench(QStringList files, CountOptions options, Prompter &prompter, QObject *parent)
    : QObject(parent), m_files(std::move(files)), m_options(std::move(options)), m_prompter(prompter)
{
    qRegisterMetaType<corvalen::WorkbenchQuery>();
    for (const QString &path : std::as_const(m_files))
        m_labels << fileNameFromPath(path);
    if (!m_options.finder)
        m_options.finder = WordFinder::create(m_options.rules, m_options.ignoreCase);
    if (!m_options.finder) // a stop-word list gone since: the plain rules still find words
        m_options.finder = WordFinder::create(WordRules(), m_options.ignoreCase);
    m_fileFirst.assign(m_files.size(), 0);
    m_fileCount.assign(m_files.size(), 0);
    m_runner = new ConcordanceRunner(this);
    connect(m_runner, &ConcordanceRunner::found, this, &Workbench::addBatch);
    connect(m_runner, &ConcordanceRunner::filesRead, this, &Workbench::filesRead);
    connect(m_runner, &ConcordanceRunner::progressChanged, this, &Workbench::searchProgress);
    connect(m_runner, &ConcordanceRunner::finished, this, [this](bool stopped) {
        if (!stopped && m_corpusWords < 0) {
            // Every file has been read: its words are known now.
            qint64 words = 0;
            for (qint32 f = 0; f < fileCount(); ++f)
                words += std::max<qint64>(0, m_runner->fileWords(f));
            m_corpusWords = words;
            emit corpusChanged();
        }
        emit searchFinished(stopped);
    });
}

Workbench::~Workbench()
{
    releaseElsewhere(m_batches);
}

QStringList Workbench::countFailures() const
{
    return m_failures ? m_failures->descriptions() : QStringList();
}

void Workbench::setWordList(std::shared_ptr<const WordListSnapshot> snapshot)
{
    m_wordList = std::move(snapshot);
    // Without phrases the rows' counts add up to the corpus's words; phrases leave them unknown.
    if (m_wordList && !m_wordList->countsPhrases()) {
        m_corpusWords = m_wordList->table.total();
        emit corpusChanged();
    } else if (m_corpusWords < 0) {
        learnWords();
    }
    emit wordListReady();
}

void Workbench::countWordList()
{
    if (isCounting())
        return;
    m_failures = std::make_unique<FailureList>();
    m_engine = std::make_unique<DocumentEngine>(m_failures.get());
    m_engine->setParagraphs(m_options.rules.paragraphs);
    m_job = std::make_unique<AnalysisJob>();
    connect(m_job.get(), &AnalysisJob::progressChanged, this, [this](Phase phase, int percent) {
        // Reading is most of the work; ordering and handing over follow quickly.
        emit countProgress(phase == Phase::Reading ? std::clamp(percent, 0, 100) * 9 / 10 : 95);
    });
    connect(m_job.get(), &AnalysisJob::finished, this, &Workbench::countFinished);
    m_job->start(m_files, m_options, m_engine.get(), m_failures.get());
}

void Workbench::countFinished(const ResultTable &table)
{
    emit countProgress(100);
    setWordList(std::make_shared<const WordListSnapshot>(makeSnapshot(table, m_options, m_files)));
}

void Workbench::learnWords()
{
    // Phrases: a query of one word matches none of them, and the scan still counts every file's
    // words.
    std::optional<CorpusQuery> never = CorpusQuery::parse(u"x"_qs, QueryMode::Words, false, *m_options.finder);
    if (!never || m_wordScan)
        return;
    ConcordanceRequest request;
    request.files = m_files;
    request.finder = m_options.finder;
    request.query = *never;
    request.positionsOnly = true;
    request.neighbours = false;
    m_wordScan = new ConcordanceRunner(this);
    connect(m_wordScan, &ConcordanceRunner::finished, this, [this](bool stopped) {
        if (!stopped && m_corpusWords < 0) {
            qint64 words = 0;
            for (qint32 f = 0; f < fileCount(); ++f)
                words += std::max<qint64>(0, m_wordScan->fileWords(f));
            m_corpusWords = words;
            emit corpusChanged();
        }
    });
    m_wordScan->start(std::move(request));
}

QString Workbench::corpusLine() const
{
    const QLocale locale;
    QString size = tr("%Ln file(s)", nullptr, int(m_files.size()));
    if (m_corpusWords >= 0)
        size += u", "_qs + (m_corpusWords == 1 ? tr("1 word") : tr("%1 words").arg(locale.toString(m_corpusWords)));
    else
        size += u", "_qs + (isCounting() || (m_wordScan && m_wordScan->isRunning()) ? tr("counting the words...")
                                                                                   : tr("words not counted yet"));
    // The mode and the letter case, then the word rules together.
    const QStringList described = describeCountOptions(m_options);
    QStringList parts{size};
    parts << described.mid(0, 2);
    if (described.size() > 2)
        parts << described.mid(2).join(u", ");
    return parts.join(u" \u00B7 ");
}

QString Workbench::corpusName() const
{
    if (m_labels.isEmpty())
        return {};
    if (m_labels.size() == 1)
        return m_labels.constFirst();
    return tr("%1 and %Ln more", nullptr, int(m_labels.size() - 1)).arg(m_labels.constFirst());
}

bool Workbench::search(const WorkbenchQuery &query, QString *error)
{
    std::optional<CorpusQuery> parsed = CorpusQuery::parse(query.text.trimmed(), query.mode,
                                                           query.matchCase && !m_options.ignoreCase,
                                                           *m_options.finder, error);
    if (!parsed)
        return false;
    std::optional<CorpusQuery> companion;
    if (!query.companion.isEmpty()) {
        // The word as counted: its letter case is the count's.
        companion = CorpusQuery::parse(query.companion, QueryMode::Words, true, *m_options.finder, error);
        if (!companion)
            return false;
    }
    m_runner->stop();
    emit linesAboutToBeCleared();
    m_query = query;
    const bool fit = query.width == WorkbenchQuery::kFitToWindow;
    m_query.width = fit ? query.width : std::clamp(query.width, ConcordanceRequest::kMinWidth, ConcordanceRequest::kMaxWidth);
    m_lineWidth = fit ? fittedWidth() : m_query.width;
    m_parsed = std::make_shared<const CorpusQuery>(*parsed);
    releaseElsewhere(m_batches);
    m_batches = std::make_shared<ConcordanceLines>();
    m_lines = {};
    m_fileFirst.assign(m_files.size(), 0);
    m_fileCount.assign(m_files.size(), 0);
    m_hits = 0;
    ConcordanceRequest request;
    request.files = m_files;
    request.finder = m_options.finder;
    request.query = std::move(*parsed);
    request.width = m_lineWidth;
    if (companion) {
        request.companion = std::move(companion);
        request.companionLeft = std::clamp(query.companionLeft, 0, CollocateRequest::kMaxSpan);
        request.companionRight = std::clamp(query.companionRight, 0, CollocateRequest::kMaxSpan);
    }
    m_runner->start(std::move(request));
    emit searchStarted();
    return true;
}

void Workbench::stopSearch()
{
    m_runner->stop();
}

bool Workbench::isSearching() const
{
    return m_runner->isRunning();
}

void Workbench::addBatch(ConcordanceBatch &batch)
{
    // The lines stay where the batch's vector holds them when it moves: they are pointed at, and
    // the batches are never read by place here (another thread may order them).
    const qsizetype from = lineCount();
    m_lines.reserve(m_lines.size() + batch.lines.size());
    for (const ConcordanceLine &line : batch.lines) {
        const auto file = size_t(line.file);
        if (m_fileCount[file] == 0)
            m_fileFirst[file] = lineCount();
        ++m_fileCount[file];
        m_hits += line.failed ? 0 : 1;
        m_lines.push_back(&line);
    }
    m_batches->append(std::move(batch));
    emit linesAdded(from, lineCount());
}

Workbench::Range Workbench::fileLines(qint32 file) const
{
    if (size_t(file) >= m_fileCount.size())
        return {};
    return {m_fileFirst[size_t(file)], m_fileCount[size_t(file)]};
}

qint64 Workbench::fileWords(qint32 file) const
{
    return m_runner->fileWords(file);
}

bool Workbench::fileWordsKnown(qint32 file) const
{
    return m_runner->isKnown(file);
}

QString Workbench::fileFailure(qint32 file) const
{
    return m_runner->failure(file);
}

std::shared_ptr<const CorpusVocabulary> Workbench::vocabulary() const
{
    return m_runner->vocabulary();
}

void Workbench::showInConcordance(const QString &word)
{
    WorkbenchQuery query = m_query;
    query.text = word;
    // The word as the count gives it: in its letter case where the count keeps it, so that its
    // lines are as many as its count.
    query.mode = QueryMode::Words;
    query.matchCase = !m_options.ignoreCase;
    query.companion.clear();
    emit concordanceRequested(query);
}

void Workbench::showHit(qsizetype line)
{
    if (line >= 0 && line < lineCount())
        emit hitRequested(line);
}

int Workbench::fittedWidth() const
{
    const int fitted = m_widthFitter ? m_widthFitter() : ConcordanceRequest::kDefaultWidth;
    return std::clamp(fitted, ConcordanceRequest::kMinWidth, ConcordanceRequest::kMaxWidth);
}

qsizetype Workbench::shownNumber(qsizetype line) const
{
    const qsizetype number = m_numbering ? m_numbering(line) : -1;
    return number > 0 ? number : line + 1;
}

void Workbench::setNumbering(std::function<qsizetype(qsizetype)> numbering)
{
    m_numbering = std::move(numbering);
    emit numberingChanged();
}

} // namespace corvalen
