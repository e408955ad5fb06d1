#include "engine/wordtally.h"

#include "engine/hashtally.h"
#include "engine/tallyrules.h"
#include "engine/taskpool.h"
#include "engine/wordscanner.h"

#include <QDir>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

namespace corvalen {

using namespace counting;

namespace {

// Words longer than this are cleaned where they stand rather than in the cleaning buffer, which
// would otherwise grow to the size of the longest word.
constexpr size_t kCleanInPlace = size_t(1) << 16;

// Counts every word of a text that begins and ends at word boundaries; kSlack readable units
// follow end. Long words needing cleaning are cleaned in the text itself, which is spent after.
// With kFiles, each word also counts the file it occurs in (files).
template<bool kFiles>
void countText(HashTally &tally, char16_t *p, const char16_t *end, bool ignoreCase,
               WordBuffer &buffer, const SliceFiles *files = nullptr)
{
    const WordScanner scanner(ignoreCase);
    BasicCounter<kFiles> counter(tally, buffer);
    [[maybe_unused]] std::optional<FileCursor> cursor;
    if constexpr (kFiles)
        cursor.emplace(*files, p);
    while (p < end) {
        if (*p == 32 || *p == 13) {
            ++p;
            continue;
        }
        char16_t *start = p;
        bool dirty = false;
        const size_t n = size_t(scanner.wordEnd(start, end, dirty) - start);
        p = start + n;
        quint32 file = 0;
        if constexpr (kFiles)
            file = cursor->fileOf(p);
        if (!dirty) {
            counter.arrive(start, n, file);
            continue;
        }
        char16_t *out = n > kCleanInPlace ? start : counter.reserve(n);
        const size_t k = cleanWord(out, start, n, ignoreCase);
        if (k == 0)
            continue; // only punctuation
        if (out != start)
            counter.commit(k);
        counter.arrive(out, k, file);
    }
    counter.drain();
}

// Text waiting to be counted, always with room for kSlack units after it. It grows by realloc():
// a text of hundreds of megabytes (one enormous word) is then moved by the system as it grows
// instead of copied, and never needs its size twice over.
class TextBuffer
{
public:
    TextBuffer() = default;
    TextBuffer(TextBuffer &&other) noexcept { swap(other); }
    TextBuffer &operator=(TextBuffer &&other) noexcept
    {
        TextBuffer(std::move(other)).swap(*this);
        return *this;
    }
    ~TextBuffer() { std::free(m_data); }

    char16_t *data() { return m_data; }
    const char16_t *data() const { return m_data; }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }
    bool empty() const { return m_size == 0; }
    char16_t operator[](size_t i) const { return m_data[i]; }

    void reserve(size_t units)
    {
        if (units + kSlack > m_capacity)
            grow(units + kSlack);
    }
    void append(const char16_t *text, size_t units)
    {
        if (units == 0)
            return;
        if (m_size + units + kSlack > m_capacity)
            grow(std::max(m_size + units + kSlack, m_capacity * 2));
        std::memcpy(m_data + m_size, text, units * sizeof(char16_t));
        m_size += units;
    }
    void assign(const char16_t *text, size_t units)
    {
        m_size = 0;
        append(text, units);
    }
    void truncate(size_t units) { m_size = std::min(m_size, units); }
    void clear() { m_size = 0; }
    /// Gives the memory back.
    void release() { TextBuffer().swap(*this); }
    void swap(TextBuffer &other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

    // Zeroes the slack that countText() reads past the end; returns the end of the text proper.
    char16_t *withSlack()
    {
        std::fill_n(m_data + m_size, kSlack, u'\0');
        return m_data + m_size;
    }

private:
    void grow(size_t units)
    {
        if (units > std::numeric_limits<size_t>::max() / sizeof(char16_t))
            throw std::bad_alloc();
        void *memory = std::realloc(m_data, units * sizeof(char16_t));
        if (!memory)
            throw std::bad_alloc();
        m_data = static_cast<char16_t *>(memory);
        m_capacity = units;
    }

    char16_t *m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

constexpr qsizetype kSliceUnits = qsizetype(1) << 20; // 2 MB of text per background slice
constexpr size_t kSmallText = size_t(1) << 16;
// Text buffers larger than this held an enormous word: they are given back, not kept for reuse.
constexpr size_t kReusedUnits = size_t(8) << 20;
// A file whose text grows beyond this while it is read is counted apart (see beginFile()).
constexpr size_t kStageUnits = size_t(4) << 20;

bool isSeparator(char16_t c)
{
    return c == 32 || c == 13;
}

// Large files that ended are merged here, one after the other, while the next file is read. Not
// the global pool: a merge waits for the file's last slices, which that pool counts.
TaskPool &mergingPool()
{
    static TaskPool pool(1);
    return pool;
}

// The last word of a file when it is counted apart from the file's other words: the file's text
// was cut after its last separator (a slice ended there, or the file was counted apart as a large
// one) and the rest went on with the text after it. Whether that rest is a word of the file, or
// the start of one that the next text continues, is known only when the text after it is; if it
// is, and the file's other words hold it too, the file was counted twice for it.
struct SplitWord
{
    quint32 file = 0;
    QString word; // what the rest gives as a word of its own
    size_t start = 0; // where the rest begins in pending, while it waits there
    std::atomic<bool> inRest{false}; // the file's other words hold it
    bool endsInFile = false; // known when the slice holding the rest is made
};

QString cleanedWord(const char16_t *text, size_t n, bool ignoreCase)
{
    QString word(qsizetype(n), Qt::Uninitialized);
    const size_t k = cleanWord(reinterpret_cast<char16_t *>(word.data()), text, n, ignoreCase);
    word.truncate(qsizetype(k));
    return word;
}

} // namespace

struct WordTally::Private
{
    explicit Private(bool ic) : ignoreCase(ic) { }

    struct Lane
    {
        HashTally tally;
        WordBuffer buffer;
        TextBuffer slice; // the text being counted on the pool
        TallyRules::Lane rules;
        SliceFiles files; // the files of the slice, with the range
        std::shared_ptr<SplitWord> check; // looked up in the tally after the slice is counted
    };

    bool ignoreCase;

    // Word rules beyond the plain ones, shared with the tallies of large files; null for the
    // plain rules.
    std::shared_ptr<TallyRules> rules;
    bool rulesApplied = false; // finish() has applied what is left of them
    bool grouped = false;      // the rows are groups of forms, held in groups
    std::vector<WordCount> groups;
    qint64 groupedTotal = 0;
    std::shared_ptr<PhraseList> phrases; // the phrases once counted

    // The range: files are numbered from 1 in the order they begin; pending's text begins in
    // pendingFirstFile and the others begin at pendingFiles. A split word waits in openSplits
    // while its text is in pending.
    bool fileRange = false;
    quint32 lastFile = 0;
    quint32 openFile = 0; // the number of the file begun last
    quint32 pendingFirstFile = 0;
    std::vector<Boundary> pendingFiles;
    std::vector<std::shared_ptr<SplitWord>> splits;
    std::vector<std::shared_ptr<SplitWord>> openSplits;
    TextBuffer pending;      // text not yet counted: at most one unfinished word, or whole files
    size_t pendingWithoutSeparator = 0; // how much of pending is known to hold no separator
    bool inFile = false;     // between beginFile() and endFile()
    size_t fileStart = 0;    // where the open file's text begins in pending
    size_t glueStart = 0;    // where the unfinished word before a staged file begins in pending
    std::unique_ptr<WordTally> staged; // the open file once it is large, counted apart
    // Large files that ended well are merged into `large` on the merging thread; their tallies
    // come back to be used again. Both guarded by mutex while a merge may run.
    HashTally large;
    std::vector<std::unique_ptr<WordTally>> spareStaged;
    // The merges handed over and not yet ended, guarded by mutex; mergeEnded tells of each end.
    int mergings = 0;
    std::condition_variable mergeEnded;
    std::mutex mergeOrder; // one merge at a time, wherever it runs
    // What the counting threads could not count (out of memory), guarded by mutex. The files
    // concerned are named in failedFiles, by their numbers from beginFile(). A large file counted
    // apart is then simply left out; a slice counted into the shared tallies leaves part of its
    // words there, so the count as a whole is lost (textFailure, thrown by finish()).
    quint32 filesBegun = 0;
    quint32 openNumber = 0;
    std::vector<quint32> pendingFileNumbers; // the files whose text is in pending
    std::vector<quint32> failedFiles;
    std::exception_ptr textFailure;
    Lane own;                // counted on the caller's thread
    std::vector<std::unique_ptr<Lane>> lanes; // counted on the pool
    std::vector<Lane *> freeLanes;
    std::vector<TextBuffer> spare; // slice buffers to use again
    std::mutex mutex;
    std::condition_variable idle;
    std::condition_variable laneFreed;
    int inFlight = 0;
    bool merged = true;

    int maxInFlight() const { return TaskPool::global().maxThreads(); }

    // Counts a slice that ends at a word boundary on the pool. One lane per pool thread: more
    // tallies than cores would only compete for the cache.
    void countSlice(TextBuffer &&text, SliceFiles &&files = {},
                    std::shared_ptr<SplitWord> check = nullptr, std::vector<quint32> fileNumbers = {})
    {
        merged = false;
        Lane *lane = nullptr;
        {
            std::unique_lock lock(mutex);
            laneFreed.wait(lock, [this] { return inFlight < maxInFlight(); });
            if (freeLanes.empty()) {
                lanes.push_back(std::make_unique<Lane>());
                lanes.back()->tally.setFileMarks(fileRange, fileLists());
                freeLanes.push_back(lanes.back().get());
            }
            lane = freeLanes.back();
            freeLanes.pop_back();
            ++inFlight;
        }
        lane->slice = std::move(text);
        lane->files = std::move(files);
        lane->check = std::move(check);
        auto job = [this, lane, fileNumbers = std::move(fileNumbers)] {
            TextBuffer &slice = lane->slice;
            // Nothing may escape a pool thread: a failure is handed on to finish() and the run.
            std::exception_ptr failure;
            try {
                countIn(*lane, slice, fileRange ? &lane->files : nullptr);
                if (fileRange)
                    lookUpSplit(lane->tally, lane->check);
            } catch (...) {
                failure = std::current_exception();
            }
            lane->check.reset();
            slice.clear();
            std::lock_guard lock(mutex);
            if (failure)
                recordFailure(fileNumbers, failure);
            if (spare.size() < 4 && slice.capacity() <= kReusedUnits)
                spare.push_back(std::move(slice));
            else
                slice.release();
            freeLanes.push_back(lane);
            --inFlight;
            laneFreed.notify_all();
            if (inFlight == 0)
                idle.notify_all();
        };
        TaskPool::global().start(std::move(job));
    }

    // Under mutex.
    void recordFailure(const std::vector<quint32> &fileNumbers, std::exception_ptr failure)
    {
        if (failure && !textFailure)
            textFailure = std::move(failure);
        for (quint32 n : fileNumbers) {
            if (std::find(failedFiles.begin(), failedFiles.end(), n) == failedFiles.end())
                failedFiles.push_back(n);
        }
    }

    bool anyFailure()
    {
        std::lock_guard lock(mutex);
        return textFailure || !failedFiles.empty();
    }

    // Slice buffers are used again: fresh memory of this size costs a page fault per page.
    TextBuffer takeBuffer()
    {
        TextBuffer buffer;
        {
            std::lock_guard lock(mutex);
            if (!spare.empty()) {
                buffer = std::move(spare.back());
                spare.pop_back();
            }
        }
        buffer.reserve(size_t(2 * kSliceUnits));
        return buffer;
    }

    void append(QStringView chunk)
    {
        // Large texts move into a slice-sized buffer once; small files never need one.
        const size_t needed = pending.size() + size_t(chunk.size());
        if (needed > pending.capacity() && needed > kSmallText
            && pending.capacity() < size_t(kSliceUnits)) {
            TextBuffer buffer = takeBuffer();
            buffer.assign(pending.data(), pending.size());
            pending.swap(buffer);
        }
        pending.append(reinterpret_cast<const char16_t *>(chunk.utf16()), size_t(chunk.size()));
    }

    // Counts a text that begins and ends at word boundaries (and, for phrases, at paragraph
    // ends) into the lane's tally.
    // With files, each word also counts the file it occurs in.
    void countIn(Lane &lane, TextBuffer &text, const SliceFiles *files)
    {
        const char16_t *end = text.withSlack();
        if (rules && rules->kind() != TallyRules::Kind::Plain)
            rules->count(lane.rules, lane.tally, lane.buffer,
                         QStringView(text.data(), qsizetype(text.size())), files);
        else if (files)
            countText<true>(lane.tally, text.data(), end, ignoreCase, lane.buffer, files);
        else
            countText<false>(lane.tally, text.data(), end, ignoreCase, lane.buffer);
    }

    // Whether the tallies keep each word's files, not only their number (see TallyRules).
    bool fileLists() const { return fileRange && rules && rules->needsFileLists(); }

    // What is left of the word rules once everything is counted and merged into own.
    void applyRules()
    {
        rulesApplied = true;
        const TallyRules &r = *rules;
        const bool lists = fileLists();
        if (r.kind() == TallyRules::Kind::Plain && r.finder().changesPlainWords())
            r.applyForms(own.tally);
        else if (lists)
            own.tally.settleFileLists();
        if (r.kind() == TallyRules::Kind::Phrases) {
            phrases = r.countPhrases(own.tally, lastFile, fileRange && r.finder().groupsWords());
        }
        if (r.finder().groupsWords()) {
            const bool counted = phrases != nullptr;
            TableVector<quint64> filePairs;
            if (fileRange)
                filePairs = counted ? std::move(phrases->filePairs) : std::move(own.tally.fileLists());
            groupedTotal = counted ? phrases->total : own.tally.total();
            std::vector<WordCount> forms = counted ? CountedRows(phrases).takeRows()
                                                   : r.rows(own.tally);
            own.tally.reset();
            phrases.reset();
            groups = r.groups(std::move(forms), fileRange ? &filePairs : nullptr);
            grouped = true;
        }
    }

    bool canCut(size_t at) const
    {
        if (!rules || rules->kind() == TallyRules::Kind::Plain)
            return isSeparator(pending[at - 1]);
        return rules->canCut(pending.data(), at, pending.size());
    }

    // Counts pending up to its last separator on the pool, so that no word straddles two
    // slices; the rest stays pending.
    void cutSlice()
    {
        size_t cut = pending.size();
        while (cut > pendingWithoutSeparator && !canCut(cut))
            --cut;
        if (cut == pendingWithoutSeparator) {
            // One enormous word (or paragraph) so far: keep collecting. Whether a slice may end
            // after the last unit depends on the next one, under some rules.
            pendingWithoutSeparator = pending.size() - (rules ? 1 : 0);
            return;
        }
        SliceFiles files;
        std::shared_ptr<SplitWord> check;
        if (fileRange)
            files = takeFiles(cut, &check);
        TextBuffer slice = takeBuffer();
        slice.assign(pending.data() + cut, pending.size() - cut);
        pending.truncate(cut);
        slice.swap(pending);
        pendingWithoutSeparator = pending.size();
        // What stays pending is the last file's unfinished word.
        std::vector<quint32> numbers = pendingFileNumbers;
        if (pending.empty())
            pendingFileNumbers.clear();
        else if (pendingFileNumbers.size() > 1)
            pendingFileNumbers.erase(pendingFileNumbers.begin(), pendingFileNumbers.end() - 1);
        countSlice(std::move(slice), std::move(files), std::move(check), std::move(numbers));
    }

    void truncatePending(size_t size)
    {
        pending.truncate(size);
        pendingWithoutSeparator = std::min(pendingWithoutSeparator, size);
        if (fileRange) {
            std::erase_if(pendingFiles, [size](const Boundary &b) { return b.at >= size; });
            std::erase_if(openSplits, [size](const auto &split) { return split->start >= size; });
        }
    }

    // The range's bookkeeping, apart from the words' path: which file each part of pending
    // belongs to, and the words of files cut in two.

    // Where the text of the file that holds pending's unit at `at` goes on until: the next file's
    // start, or the end of pending.
    size_t fileEnd(size_t at) const
    {
        const auto next = std::upper_bound(pendingFiles.begin(), pendingFiles.end(), at,
                                           [](size_t a, const Boundary &b) { return a < b.at; });
        return next == pendingFiles.end() ? pending.size() : next->at;
    }

    // pending[0, cut) becomes a slice: its files, and pending's from then on. A split word whose
    // text lies in the slice learns whether it ended in its file: the text after it is known. The
    // file cut in two at `cut` gives a split word of its own; the slice looks it up (check).
    SliceFiles takeFiles(size_t cut, std::shared_ptr<SplitWord> *check)
    {
        for (auto it = openSplits.begin(); it != openSplits.end();) {
            SplitWord &split = **it;
            if (split.start >= cut) {
                ++it;
                continue;
            }
            const size_t end = fileEnd(split.start);
            split.endsInFile = end == pending.size() || isSeparator(pending[end]);
            it = openSplits.erase(it);
        }
        SliceFiles files;
        files.first = pendingFirstFile;
        const auto kept = std::lower_bound(pendingFiles.begin(), pendingFiles.end(), cut,
                                           [](const Boundary &b, size_t at) { return b.at < at; });
        files.boundaries.assign(pendingFiles.begin(), kept);
        pendingFirstFile = files.boundaries.empty() ? files.first : files.boundaries.back().file;
        const bool fileBeginsAtCut = kept != pendingFiles.end() && kept->at == cut;
        if (check && !fileBeginsAtCut && cut < pending.size()) {
            const size_t end = fileEnd(cut);
            auto split = std::make_shared<SplitWord>();
            split->file = pendingFirstFile;
            split->start = cut;
            split->word = cleanedWord(pending.data() + cut, end - cut, ignoreCase);
            if (!split->word.isEmpty()) {
                splits.push_back(split);
                openSplits.push_back(split);
                *check = std::move(split);
                // The rest counts under a number of its own: a lane that counts both parts
                // must not take it for the same file, so that every such word is corrected alike.
                pendingFirstFile = ++lastFile;
            }
        }
        pendingFiles.erase(pendingFiles.begin(), kept);
        for (Boundary &b : pendingFiles)
            b.at -= cut;
        for (auto &split : openSplits)
            split->start -= cut;
        return files;
    }

    // After a slice is counted: does the rest of the split word's file hold it? The file's other
    // words were the last the slice counted, so they alone left it as the word's last file.
    static void lookUpSplit(const HashTally &tally, const std::shared_ptr<SplitWord> &split)
    {
        if (!split)
            return;
        const qsizetype entry = tally.find(std::u16string_view(
                reinterpret_cast<const char16_t *>(split->word.utf16()), size_t(split->word.size())));
        if (entry >= 0 && tally.mark(size_t(entry)).lastFile == split->file)
            split->inRest = true;
    }

    // At the end: a split word that ended in its file, and that the file's other words held too,
    // gave the file twice.
    void correctSplits()
    {
        for (const auto &split : splits) {
            if (!split->endsInFile || !split->inRest)
                continue;
            const qsizetype entry = own.tally.find(std::u16string_view(
                    reinterpret_cast<const char16_t *>(split->word.utf16()), size_t(split->word.size())));
            if (entry >= 0)
                own.tally.addFiles(size_t(entry), -1);
        }
        splits.clear();
    }

    // The open file has grown large: its text so far moves to a tally of its own, which counts
    // the rest as it comes, with all the lanes it needs. When the last file ended inside a word,
    // that unfinished word begins the file's first one: the staged tally takes a copy, and
    // pending keeps it in case the file is taken back.
    void stage()
    {
        {
            std::lock_guard lock(mutex);
            if (!spareStaged.empty()) {
                staged = std::move(spareStaged.back());
                spareStaged.pop_back();
            }
        }
        if (!staged) {
            staged = std::make_unique<WordTally>(ignoreCase);
            staged->d->rules = rules;
        }
        glueStart = fileStart;
        // With the range, a word that the file does not continue stays with its own file: it is
        // counted in the run's slices, not with this file (see takeTail()).
        const bool continued = !fileRange || !isSeparator(pending[fileStart]);
        while (continued && glueStart > 0 && !isSeparator(pending[glueStart - 1]))
            --glueStart;
        const QStringView text(reinterpret_cast<const QChar *>(pending.data()) + glueStart,
                               qsizetype(pending.size() - glueStart));
        for (qsizetype at = 0; at < text.size(); at += kSliceUnits)
            staged->feed(text.sliced(at, std::min(kSliceUnits, text.size() - at)));
        truncatePending(fileStart);
    }

    // A staged file ended well: its unfinished last word, when it ended inside one, goes back to
    // pending, where the next file's text continues it; the word that began before the file is
    // in its count.
    // With the range, the file's place in pending is marked again: from fileStart when all of
    // it came back, else the unfinished word alone, a split word of the file. A word before the
    // file that it did not continue (one left in pending by stage()) is ended by a separator,
    // standing in for the file's text between them.
    std::shared_ptr<SplitWord> takeTail(Private &f, quint32 file)
    {
        size_t tail = f.pending.size();
        while (tail > f.pendingWithoutSeparator && !isSeparator(f.pending[tail - 1]))
            --tail;
        if (tail == f.pendingWithoutSeparator)
            tail = 0; // no separator at all: the whole of it is one unfinished word
        truncatePending(glueStart);
        std::shared_ptr<SplitWord> split;
        if (fileRange) {
            if (tail == 0) {
                pendingFiles.push_back({fileStart, file});
            } else {
                pendingFiles.push_back({pending.size(), file});
                if (!pending.empty() && !isSeparator(pending[pending.size() - 1]))
                    pending.append(u"\r", 1);
                split = std::make_shared<SplitWord>();
                split->file = file;
                split->start = pending.size();
                split->word = cleanedWord(f.pending.data() + tail, f.pending.size() - tail, ignoreCase);
                if (split->word.isEmpty()) {
                    split.reset();
                } else {
                    splits.push_back(split);
                    openSplits.push_back(split);
                }
            }
        }
        pending.append(f.pending.data() + tail, f.pending.size() - tail);
        f.truncatePending(tail);
        return split;
    }

    // Hands a staged file over to the merging thread: its count is completed and, when it ended
    // well, merged into `large` once; then its tallies wait, emptied, for the next large file.
    // With the range, the file's words gain the file once however many of its tallies hold
    // them; split is the file's unfinished last word, which the file's words may hold.
    void handOver(std::unique_ptr<WordTally> file, bool keep, quint32 number, quint32 fileNumber = 0,
                  std::shared_ptr<SplitWord> split = nullptr)
    {
        {
            std::lock_guard lock(mutex);
            ++mergings;
        }
        mergingPool().start([this, f = file.release(), keep, number, fileNumber, split] {
            std::lock_guard order(mergeOrder);
            std::unique_ptr<WordTally> owned(f);
            Private &p = *owned->d;
            bool touched = false; // large holds part of the file
            try {
                p.waitIdle();
                // A file whose words could not all be counted is left out whole.
                if (keep && p.anyFailure()) {
                    std::lock_guard lock(mutex);
                    recordFailure({number}, nullptr);
                } else if (keep) {
                    // The rest goes into a tally that is merged anyway: one merge less.
                    Lane &rest = p.lanes.empty() ? p.own : *p.lanes.front();
                    p.countPending(rest);
                    touched = true;
                    for (HashTally *t : p.tallies()) {
                        if (large.distinct() == 0 && !(fileRange && t->hasSequences())) {
                            std::swap(large, *t); // the first large file is just taken
                            if (fileRange)
                                large.markAll(fileNumber, fileLists());
                            t->setFileMarks(false);
                        } else if (fileRange) {
                            large.mergeFromFile(*t, fileNumber);
                        } else {
                            large.mergeFrom(*t);
                        }
                    }
                    lookUpSplit(large, split);
                }
            } catch (...) {
                // Before the merge began only the file is lost; after, the count as a whole.
                std::lock_guard lock(mutex);
                recordFailure({number}, touched ? std::current_exception() : nullptr);
            }
            p.recycle();
            std::lock_guard lock(mutex);
            spareStaged.push_back(std::move(owned));
            --mergings;
            mergeEnded.notify_all();
        });
    }

    void waitForMerges()
    {
        std::unique_lock lock(mutex);
        mergeEnded.wait(lock, [this] { return mergings == 0; });
    }

    std::vector<HashTally *> tallies()
    {
        std::vector<HashTally *> all{&own.tally};
        for (auto &lane : lanes)
            all.push_back(&lane->tally);
        return all;
    }

    void countPending(Lane &lane)
    {
        SliceFiles files;
        if (fileRange)
            files = takeFiles(pending.size(), nullptr);
        if (!pending.empty()) {
            countIn(lane, pending, fileRange ? &files : nullptr);
            pending.clear();
            pendingWithoutSeparator = 0;
        }
        if (pending.capacity() > kReusedUnits)
            pending.release(); // the rows are made next
    }

    // Empties a staged file's tallies for the next large file, keeping their size.
    void recycle()
    {
        waitIdle();
        for (HashTally *t : tallies())
            t->clearKeepingSize();
        pending.clear();
        if (pending.capacity() > kReusedUnits)
            pending.release();
        pendingWithoutSeparator = 0;
        inFile = false;
        merged = true;
        std::lock_guard lock(mutex);
        textFailure = nullptr;
        failedFiles.clear();
    }

    void waitIdle()
    {
        std::unique_lock lock(mutex);
        idle.wait(lock, [this] { return inFlight == 0; });
    }

    void mergeLanes()
    {
        waitIdle();
        if (merged && large.distinct() == 0)
            return;
        // Merge into the largest tally: every word it already holds is one lookup saved.
        std::vector<HashTally *> others{&large};
        for (auto &lane : lanes)
            others.push_back(&lane->tally);
        for (HashTally *t : others) {
            if (t->distinct() > own.tally.distinct())
                std::swap(*t, own.tally);
        }
        for (HashTally *t : others) {
            own.tally.mergeFrom(*t);
            t->reset();
        }
        merged = true;
    }
};

WordTally::WordTally(bool ignoreCase) : d(std::make_unique<Private>(ignoreCase)) { }

WordTally::WordTally(const WordFinder &rules) : d(std::make_unique<Private>(rules.ignoresCase()))
{
    // Paragraphs are the readers' business: the words of the text given are the plain ones.
    WordRules finding = rules.rules();
    finding.paragraphs = WordRules::Paragraphs::Lines;
    if (!finding.isDefault())
        d->rules = std::make_shared<TallyRules>(rules);
}

WordTally::~WordTally()
{
    d->staged.reset();
    d->waitForMerges();
    d->waitIdle();
}

bool WordTally::ignoresCase() const
{
    return d->ignoreCase;
}

void WordTally::setFileRange(bool on)
{
    d->fileRange = on;
    const bool lists = d->fileLists();
    d->own.tally.setFileMarks(on, lists);
    d->large.setFileMarks(on, lists);
    for (auto &lane : d->lanes)
        lane->tally.setFileMarks(on, lists);
}

void WordTally::feed(QStringView chunk)
{
    if (chunk.isEmpty())
        return;
    if (d->fileRange && !d->inFile)
        beginFile();
    if (d->staged) {
        d->staged->feed(chunk);
        return;
    }
    d->merged = false;
    d->rulesApplied = false;
    d->append(chunk);
    if (d->inFile) {
        // A file's text is sliced only once it has ended, and never split.
        if (d->pending.size() - d->fileStart > kStageUnits)
            d->stage();
        return;
    }
    if (qsizetype(d->pending.size()) >= kSliceUnits)
        d->cutSlice();
}

void WordTally::beginFile()
{
    if (d->inFile)
        endFile(true);
    d->inFile = true;
    d->fileStart = d->pending.size();
    d->openNumber = d->filesBegun++;
    d->pendingFileNumbers.push_back(d->openNumber);
    if (d->fileRange)
        d->pendingFiles.push_back({d->fileStart, d->openFile = ++d->lastFile});
}

void WordTally::endFile(bool complete)
{
    if (!d->inFile)
        return;
    // Under word rules a file's last word, and its last phrase, end with the file.
    if (complete && d->rules)
        feed(u"\r");
    d->inFile = false;
    bool textLeft = complete; // the file's text, or its unfinished last word, is in pending
    if (d->staged) {
        std::shared_ptr<SplitWord> split;
        if (complete) {
            const size_t before = d->glueStart;
            split = d->takeTail(*d->staged->d, d->openFile);
            textLeft = d->pending.size() > before;
        }
        d->handOver(std::move(d->staged), complete, d->openNumber, d->openFile, std::move(split));
    } else if (!complete) {
        d->truncatePending(d->fileStart);
    }
    if (!textLeft && !d->pendingFileNumbers.empty() && d->pendingFileNumbers.back() == d->openNumber)
        d->pendingFileNumbers.pop_back();
    if (complete && qsizetype(d->pending.size()) >= kSliceUnits)
        d->cutSlice();
}

void WordTally::finish()
{
    endFile(true);
    d->waitForMerges();
    d->spareStaged.clear();
    d->waitIdle();
    std::exception_ptr failure;
    {
        std::lock_guard lock(d->mutex);
        failure = std::exchange(d->textFailure, nullptr);
    }
    if (failure)
        std::rethrow_exception(failure);
    d->countPending(d->own);
    d->mergeLanes();
    if (d->fileRange)
        d->correctSplits();
    if (d->rules && !d->rulesApplied)
        d->applyRules();
}

std::vector<WordCount> WordTally::ordered() const
{
    if (d->grouped) {
        std::vector<WordCount> rows = d->groups;
        orderByItems(rows);
        return rows;
    }
    if (d->phrases)
        return CountedRows(d->phrases, phraseOrder(*d->phrases)).takeRows();
    return orderedRows(d->own.tally);
}

std::vector<WordCount> WordTally::takeOrdered()
{
    return takeOrderedRows().takeRows();
}

CountedRows WordTally::takeOrderedRows()
{
    if (d->grouped) {
        std::vector<WordCount> rows = std::exchange(d->groups, {});
        orderByItems(rows);
        d->grouped = false;
        d->groupedTotal = 0;
        return CountedRows(std::move(rows));
    }
    if (d->phrases) {
        orderByCount(*d->phrases); // rows read one after the other, not all over the list
        return CountedRows(std::exchange(d->phrases, nullptr));
    }
    return CountedRows(ordered());
}

std::vector<WordCount> WordTally::counts() const
{
    if (d->grouped)
        return d->groups;
    if (d->phrases)
        return CountedRows(d->phrases).takeRows();
    std::vector<WordCount> rows;
    rows.reserve(d->own.tally.distinct());
    d->own.tally.forEachWithFiles([&rows](std::u16string_view w, qint64 n, qint64 files) {
        rows.emplace_back(QString(reinterpret_cast<const QChar *>(w.data()), qsizetype(w.size())), n);
        rows.back().files = files;
    });
    return rows;
}

std::vector<quint32> WordTally::failedFiles() const
{
    std::lock_guard lock(d->mutex);
    std::vector<quint32> files = d->failedFiles;
    std::sort(files.begin(), files.end());
    return files;
}

qint64 WordTally::total() const
{
    if (d->phrases)
        return d->phrases->total;
    return d->grouped ? d->groupedTotal : d->own.tally.total();
}

qsizetype WordTally::distinctWords() const
{
    if (d->phrases)
        return qsizetype(d->phrases->size());
    return d->grouped ? qsizetype(d->groups.size()) : qsizetype(d->own.tally.distinct());
}

void WordTally::clear()
{
    d->staged.reset();
    d->inFile = false;
    d->waitForMerges();
    d->large.reset();
    d->textFailure = nullptr;
    d->failedFiles.clear();
    d->pendingFileNumbers.clear();
    d->filesBegun = 0;
    d->waitIdle();
    for (auto &lane : d->lanes)
        lane->tally.reset();
    d->own.tally.reset();
    d->pending.clear();
    d->pendingWithoutSeparator = 0;
    d->merged = true;
    if (d->rules)
        d->rules->clear();
    d->rulesApplied = false;
    d->grouped = false;
    d->groups.clear();
    d->groupedTotal = 0;
    d->phrases.reset();
    d->lastFile = 0;
    d->pendingFirstFile = 0;
    d->pendingFiles.clear();
    d->splits.clear();
    d->openSplits.clear();
}

QString fileNameFromPath(const QString &path)
{
    const QChar sep = QDir::separator();
    return path.mid(path.lastIndexOf(sep) + 1);
}

} // namespace corvalen
