#include "corpus/concordance.h"

#include "corpus/collation.h"
#include "corpus/perthread.h"
#include "engine/hashtally.h"
#include "engine/utf8.h"
#include "results/resultlayouts.h"

#include <QCoreApplication>

#include <algorithm>
#include <deque>
#include <numeric>
#include <thread>

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::Concordance", text);
}

bool shownAsSpace(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// Text as a line shows it: tabs, line ends and other control characters as spaces.
void appendShown(QString &out, QStringView text)
{
    const qsizetype at = out.size();
    out.append(text);
    for (qsizetype i = at; i < out.size(); ++i) {
        if (shownAsSpace(out.at(i).unicode()))
            out[i] = u' ';
    }
}

// Where the context of up to width characters (code points) before start begins; never inside a
// surrogate pair.
qsizetype leftStart(QStringView text, qsizetype start, int width)
{
    qsizetype i = start;
    for (int n = 0; i > 0 && n < width; ++n) {
        if (i >= 2 && text.at(i - 1).isLowSurrogate() && text.at(i - 2).isHighSurrogate())
            i -= 2;
        else
            --i;
    }
    return i;
}

qsizetype rightEnd(QStringView text, qsizetype end, qsizetype limit, int width)
{
    qsizetype i = end;
    for (int n = 0; i < limit && n < width; ++n) {
        if (i + 1 < limit && text.at(i).isHighSurrogate() && text.at(i + 1).isLowSurrogate())
            i += 2;
        else
            ++i;
    }
    return i;
}

// What a worker makes of a slice: its lines, and how many neighbours each found in the slice.
struct SliceLines
{
    ConcordanceBatch batch;
    std::vector<qint64> places; // instead of lines, when the places alone are asked for
    std::vector<quint8> haveLeft;
    std::vector<quint8> haveRight;
    // With a companion: whether each line's window holds it, and how many words of the window lie
    // before the slice and after it (the slices next to it hold them).
    std::vector<quint8> companionFound;
    std::vector<quint8> companionBefore;
    std::vector<quint8> companionAfter;
};

// A batch waiting for the words after its last lines, which the next slices of its file hold.
struct WaitingBatch
{
    ConcordanceBatch batch;
    std::vector<quint8> haveRight;
    size_t incomplete = 0; // lines still short of words on their right
    std::vector<quint8> companionFound;
    std::vector<quint8> companionAfter; // words of the window still to come
    size_t companionsWaiting = 0;
};

// Points the lines at their places in the batch's text, now that it no longer grows.
void settleTexts(ConcordanceBatch &batch, const std::vector<qsizetype> &starts)
{
    const QStringView all(batch.text);
    for (size_t i = 0; i < batch.lines.size(); ++i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : all.size();
        batch.lines[i].text = all.sliced(starts[i], end - starts[i]);
    }
}

} // namespace

ConcordanceSearch::ConcordanceSearch(ConcordanceRequest request) : m_request(std::move(request))
{
    m_request.width = std::clamp(m_request.width, ConcordanceRequest::kMinWidth, ConcordanceRequest::kMaxWidth);
    CorpusScanOptions options;
    options.files = m_request.files;
    options.finder = m_request.finder;
    options.margin = 2 * ConcordanceRequest::kMaxWidth + 16;
    // A phrase never runs across a paragraph end, a single word never across a space.
    options.cutAtSpaces = m_request.query.length() == 1;
    // Words are numbered only for what needs it: the words of the hits and around them, which
    // orders go by, and those alone (the scan hashes every word, the search numbers these).
    m_numbered = !m_request.positionsOnly && m_request.neighbours;
    options.numberWords = false;
    options.hashWords = m_numbered;
    if (m_request.companion) {
        // The companion's mark is the top bit: a query of 31 words at most leaves it free.
        options.cutAtSpaces = false; // the edges' windows are filled in order, as the neighbours are
        options.makeMarker = [this] {
            struct Both : TokenMarker
            {
                QueryMatcher query, companion;
                Both(const ConcordanceRequest &r)
                    : query(r.query, *r.finder), companion(*r.companion, *r.finder)
                {
                }
                quint32 mark(QStringView word, quint32 id) override
                {
                    return (query.mark(word, id) & 0x7FFFFFFF) | ((companion.mark(word, id) & 1) << 31);
                }
            };
            return std::unique_ptr<TokenMarker>(new Both(m_request));
        };
    } else {
        options.makeMarker = [this] { return std::make_unique<QueryMatcher>(m_request.query, *m_request.finder); };
    }
    m_scan = std::make_unique<CorpusScan>(options);
}

ConcordanceSearch::~ConcordanceSearch() = default;

std::shared_ptr<const CorpusVocabulary> ConcordanceSearch::vocabulary() const
{
    return m_scan->sharedVocabulary();
}

bool ConcordanceSearch::run(const Found &found, const std::atomic<bool> *stop, Progress *progress)
{
    return runSearch(&found, nullptr, stop, progress);
}

bool ConcordanceSearch::runPlaces(const FoundPlaces &places, const std::atomic<bool> *stop, Progress *progress)
{
    m_request.positionsOnly = true;
    return runSearch(nullptr, &places, stop, progress);
}

QString ConcordanceSearch::failure(qint32 file) const
{
    return size_t(file) < m_failures.size() ? m_failures[size_t(file)] : QString();
}

bool ConcordanceSearch::runSearch(const Found *foundLines, const FoundPlaces *places, const std::atomic<bool> *stop,
                                  Progress *progress)
{
    const auto found = [foundLines](ConcordanceBatch &&batch) {
        if (foundLines)
            (*foundLines)(std::move(batch));
    };
    const CorpusQuery &query = m_request.query;
    const qsizetype length = query.length();
    const int width = m_request.width;
    const bool positionsOnly = m_request.positionsOnly;
    CorpusVocabulary &vocabulary = *m_scan->sharedVocabulary();
    m_fileWords.assign(size_t(m_request.files.size()), 0);
    m_failures.assign(size_t(m_request.files.size()), QString());

    const bool neighbours = m_numbered && m_request.neighbours && !positionsOnly;
    const bool companion = m_request.companion.has_value() && !positionsOnly;
    PerThread<WordNumbers> workerNumbers([&] { return std::make_unique<WordNumbers>(*m_request.finder, vocabulary); });
    WordNumbers orderedNumbers(*m_request.finder, vocabulary); // the words near the slices' ends, in order
    const CorpusScan::Work work = [&](CorpusSlice &slice) {
        SliceLines out;
        if (query.matchesNothing() || slice.tokens.empty()) {
            slice.result = std::move(out);
            return;
        }
        std::vector<qsizetype> hits;
        findQueryHits(slice.tokens, length, hits);
        if (places) {
            out.places.assign(hits.begin(), hits.end());
            slice.result = std::move(out);
            return;
        }
        const QStringView text = slice.view();
        const qsizetype n = qsizetype(slice.tokens.size());
        WordNumbers *numbers = neighbours ? &workerNumbers.local() : nullptr;
        const auto idAt = [&](qsizetype i) { return numbers->of(slice, slice.tokens[size_t(i)]); };
        std::vector<char16_t> joined;
        std::vector<qsizetype> starts;
        ConcordanceBatch &batch = out.batch;
        batch.lines.reserve(hits.size());
        if (!positionsOnly) {
            batch.text.reserve(qsizetype(hits.size()) * (2 * width + 8));
            starts.reserve(hits.size());
        }
        for (const qsizetype i : hits) {
            const CorpusToken &first = slice.tokens[size_t(i)];
            const CorpusToken &last = slice.tokens[size_t(i + length - 1)];
            ConcordanceLine line;
            line.file = slice.file;
            line.position = i; // within the slice: made whole in order
            line.hitStart = slice.inFile(first.start);
            line.hitEnd = slice.inFile(last.end);
            if (!positionsOnly) {
                const qsizetype from = leftStart(text, first.start, width);
                const qsizetype to = rightEnd(text, last.end, std::max<qsizetype>(last.end, slice.textEnd), width);
                starts.push_back(batch.text.size());
                appendShown(batch.text, text.sliced(from, first.start - from));
                line.leftLength = qint32(first.start - from);
                appendShown(batch.text, text.sliced(first.start, last.end - first.start));
                line.hitLength = qint32(last.end - first.start);
                appendShown(batch.text, text.sliced(last.end, to - last.end));
                if (!neighbours) {
                    // Nothing orders by the words: they were not numbered.
                } else if (length == 1) {
                    line.hitWord = idAt(i);
                } else {
                    // A phrase's counted form is its words joined by spaces, numbered as a word.
                    joined.clear();
                    for (qsizetype k = 0; k < length; ++k) {
                        if (k > 0)
                            joined.push_back(u' ');
                        const QString w = numbers->wordOf(slice, slice.tokens[size_t(i + k)]);
                        joined.insert(joined.end(), w.utf16(), w.utf16() + w.size());
                    }
                    const size_t units = joined.size();
                    joined.resize(units + counting::kSlack, 0);
                    line.hitWord = vocabulary.idOf(joined.data(), units);
                }
                int left = 0;
                for (; neighbours && left < kNeighbourWords && i - 1 - left >= 0; ++left)
                    line.neighbours[size_t(kNeighbourWords - 1 - left)] = idAt(i - 1 - left) + 1;
                int right = 0;
                for (; neighbours && right < kNeighbourWords && i + length + right < n; ++right)
                    line.neighbours[size_t(kNeighbourWords + right)] = idAt(i + length + right) + 1;
                out.haveLeft.push_back(quint8(left));
                out.haveRight.push_back(quint8(neighbours ? right : kNeighbourWords));
            }
            if (companion) {
                bool with = false;
                for (int d = 1; d <= m_request.companionLeft && i - d >= 0 && !with; ++d)
                    with = slice.tokens[size_t(i - d)].mark >> 31;
                for (int d = 1; d <= m_request.companionRight && i + length - 1 + d < n && !with; ++d)
                    with = slice.tokens[size_t(i + length - 1 + d)].mark >> 31;
                out.companionFound.push_back(with);
                out.companionBefore.push_back(quint8(std::max<qsizetype>(0, m_request.companionLeft - i)));
                out.companionAfter.push_back(
                        quint8(std::max<qsizetype>(0, i + length - 1 + m_request.companionRight - (n - 1))));
            }
            batch.lines.push_back(line);
        }
        if (!positionsOnly)
            settleTexts(batch, starts);
        if (!positionsOnly && !m_request.lineNames.isEmpty() && !batch.lines.empty()) {
            // Encoded here, on the worker: a million lines are the writing's work.
            const QString &name = m_request.lineNames.at(slice.file);
            qsizetype room = 0;
            for (const ConcordanceLine &line : batch.lines)
                room += 3 * (name.size() + line.text.size()) + 4;
            batch.utf8.resize(room);
            char *p = batch.utf8.data();
            for (const ConcordanceLine &line : batch.lines) {
                p = putUtf8(p, name);
                *p++ = '\t';
                p = putUtf8(p, line.left());
                *p++ = '\t';
                p = putUtf8(p, line.hit());
                *p++ = '\t';
                p = putUtf8(p, line.right());
                *p++ = '\n';
            }
            batch.utf8.truncate(p - batch.utf8.constData());
        }
        slice.result = std::move(out);
    };

    // In order: positions made whole, neighbours across slices filled in, batches handed on.
    std::deque<WaitingBatch> waiting;
    qint32 file = -1;
    qint64 wordsBefore = 0; // the file's words in the slices before
    std::deque<quint32> lastWords; // the file's last words so far, most recent last
    std::deque<bool> lastCompanions; // whether each of the file's last words is the companion
    const auto handOnReady = [&](bool all) {
        while (!waiting.empty() && (all || (waiting.front().incomplete == 0 && waiting.front().companionsWaiting == 0))) {
            WaitingBatch &w = waiting.front();
            ConcordanceBatch batch = std::move(w.batch);
            if (companion) {
                // The lines whose window holds no companion go.
                size_t kept = 0;
                for (size_t j = 0; j < batch.lines.size(); ++j) {
                    if (w.companionFound[j])
                        batch.lines[kept++] = batch.lines[j];
                }
                batch.lines.resize(kept);
            }
            waiting.pop_front();
            if (!batch.lines.empty())
                found(std::move(batch));
        }
    };
    const CorpusScan::InOrder inOrder = [&](CorpusSlice &slice) {
        if (slice.file != file) {
            handOnReady(true); // the file before ended: nothing follows its last lines
            file = slice.file;
            wordsBefore = 0;
            lastWords.clear();
            lastCompanions.clear();
        }
        if (slice.failed) {
            handOnReady(true);
            m_fileWords[size_t(file)] = -1;
            m_failures[size_t(file)] = slice.failure;
            ConcordanceBatch batch;
            batch.text = slice.failure.isEmpty() ? tr("The file could not be read.") : slice.failure;
            batch.text.replace(u"\r\n"_qs, u" "_qs).replace(u'\r', u' ').replace(u'\n', u' ');
            ConcordanceLine line;
            line.file = file;
            line.failed = true;
            line.text = batch.text;
            batch.lines.push_back(line);
            found(std::move(batch));
            return;
        }
        const std::vector<CorpusToken> &tokens = slice.tokens;
        if (companion) {
            // The first words of this slice end the windows of the lines still waiting for them.
            for (WaitingBatch &w : waiting) {
                for (size_t j = 0; j < w.batch.lines.size() && w.companionsWaiting > 0; ++j) {
                    const int need = w.companionAfter[j];
                    if (need == 0)
                        continue;
                    const int taken = int(std::min<size_t>(size_t(need), tokens.size()));
                    for (int k = 0; k < taken && !w.companionFound[j]; ++k)
                        w.companionFound[j] = tokens[size_t(k)].mark >> 31;
                    w.companionAfter[j] = quint8(w.companionFound[j] ? 0 : need - taken);
                    if (w.companionAfter[j] == 0)
                        --w.companionsWaiting;
                }
            }
        }
        if (neighbours) {
            // The words at the start of this slice follow the lines still waiting for them.
            for (WaitingBatch &w : waiting) {
                for (size_t j = 0; j < w.batch.lines.size() && w.incomplete > 0; ++j) {
                    const int had = w.haveRight[j];
                    if (had >= kNeighbourWords)
                        continue;
                    int k = 0;
                    for (; had + k < kNeighbourWords && size_t(k) < tokens.size(); ++k)
                        w.batch.lines[j].neighbours[size_t(kNeighbourWords + had + k)] = orderedNumbers.of(slice, tokens[size_t(k)]) + 1;
                    w.haveRight[j] = quint8(had + k);
                    if (had + k >= kNeighbourWords)
                        --w.incomplete;
                }
            }
        }
        if (places && slice.result.has_value()) {
            std::vector<qint64> &at = std::any_cast<SliceLines>(&slice.result)->places;
            for (qint64 &p : at)
                p += wordsBefore;
            if (!at.empty())
                (*places)(file, at);
        } else if (slice.result.has_value()) {
            SliceLines &lines = *std::any_cast<SliceLines>(&slice.result);
            WaitingBatch w;
            w.batch = std::move(lines.batch);
            for (size_t j = 0; j < w.batch.lines.size(); ++j) {
                ConcordanceLine &line = w.batch.lines[j];
                line.position += wordsBefore;
                if (!neighbours)
                    continue;
                const int haveLeft = lines.haveLeft[j];
                for (int d = haveLeft; d < kNeighbourWords && size_t(d - haveLeft) < lastWords.size(); ++d)
                    line.neighbours[size_t(kNeighbourWords - 1 - d)] = lastWords[lastWords.size() - 1 - size_t(d - haveLeft)] + 1;
            }
            if (neighbours) {
                w.haveRight = std::move(lines.haveRight);
                w.incomplete = size_t(std::count_if(w.haveRight.begin(), w.haveRight.end(),
                                                    [](quint8 h) { return h < kNeighbourWords; }));
            }
            if (companion) {
                w.companionFound = std::move(lines.companionFound);
                w.companionAfter = std::move(lines.companionAfter);
                for (size_t j = 0; j < w.companionFound.size(); ++j) {
                    // The window's words before this slice are the file's last words so far.
                    const int need = lines.companionBefore[j];
                    for (int k = 0; k < need && size_t(k) < lastCompanions.size() && !w.companionFound[j]; ++k)
                        w.companionFound[j] = lastCompanions[lastCompanions.size() - 1 - size_t(k)];
                    if (w.companionFound[j])
                        w.companionAfter[j] = 0;
                    w.companionsWaiting += w.companionAfter[j] > 0;
                }
            }
            waiting.push_back(std::move(w));
        }
        wordsBefore += qint64(tokens.size());
        if (companion) {
            const size_t keep = size_t(std::max(m_request.companionLeft, 1));
            for (size_t k = tokens.size() > keep ? tokens.size() - keep : 0; k < tokens.size(); ++k) {
                lastCompanions.push_back(tokens[k].mark >> 31);
                if (lastCompanions.size() > keep)
                    lastCompanions.pop_front();
            }
        }
        for (size_t k = tokens.size() > size_t(kNeighbourWords) ? tokens.size() - kNeighbourWords : 0;
             neighbours && k < tokens.size(); ++k) {
            lastWords.push_back(orderedNumbers.of(slice, tokens[k]));
            if (lastWords.size() > size_t(kNeighbourWords))
                lastWords.pop_front();
        }
        if (slice.lastOfFile)
            m_fileWords[size_t(file)] = wordsBefore;
        handOnReady(slice.lastOfFile);
    };
    const bool complete = m_scan->run(work, inOrder, stop, progress);
    handOnReady(true);
    return complete;
}

void ConcordanceLines::append(ConcordanceBatch &&batch)
{
    if (batch.lines.empty())
        return;
    m_starts.push_back(m_size);
    m_size += qsizetype(batch.lines.size());
    m_batches.push_back(std::move(batch));
}

const ConcordanceLine &ConcordanceLines::operator[](qsizetype i) const
{
    if (m_last >= m_batches.size() || i < m_starts[m_last] || i >= m_starts[m_last] + qsizetype(m_batches[m_last].lines.size())) {
        if (m_last + 1 < m_batches.size() && i >= m_starts[m_last + 1]
            && i < m_starts[m_last + 1] + qsizetype(m_batches[m_last + 1].lines.size()))
            ++m_last;
        else
            m_last = size_t(std::upper_bound(m_starts.begin(), m_starts.end(), i) - m_starts.begin() - 1);
    }
    return m_batches[m_last].lines[size_t(i - m_starts[m_last])];
}

ConcordanceLine &ConcordanceLines::operator[](qsizetype i)
{
    return const_cast<ConcordanceLine &>(std::as_const(*this)[i]);
}

void ConcordanceLines::clear()
{
    m_batches.clear();
    m_starts.clear();
    m_size = 0;
    m_last = 0;
}

QStringList sortKeyNames()
{
    return {u"5L"_qs, u"4L"_qs, u"3L"_qs, u"2L"_qs, u"1L"_qs, u"hit"_qs, u"1R"_qs,
            u"2R"_qs, u"3R"_qs, u"4R"_qs, u"5R"_qs, u"file"_qs, u"position"_qs};
}

std::optional<QList<SortKey>> parseSortKeys(const QString &text, QString *error)
{
    const QStringList names = sortKeyNames();
    QList<SortKey> keys;
    for (const QString &part : text.split(u',')) {
        const qsizetype k = names.indexOf(part.trimmed(), 0);
        qsizetype found = k;
        if (found < 0) {
            // The side letters in either case: 1r is 1R.
            for (qsizetype i = 0; i < names.size() && found < 0; ++i) {
                if (names.at(i).compare(part.trimmed(), Qt::CaseInsensitive) == 0)
                    found = i;
            }
        }
        if (found < 0) {
            if (error)
                *error = tr("unknown sort key \"%1\" (%2).").arg(part.trimmed(), names.join(u", "));
            return std::nullopt;
        }
        if (!keys.isEmpty() && keys.constLast() == SortKey::Position) {
            // Text order leaves no ties for a later key to break: one there would be ignored.
            if (error)
                *error = tr("position ends an order: no key may follow it (\"%1\").").arg(part.trimmed());
            return std::nullopt;
        }
        keys.append(SortKey(found));
    }
    if (keys.size() > 3) {
        if (error)
            *error = tr("at most three sort keys, not %1.").arg(keys.size());
        return std::nullopt;
    }
    return keys;
}

WordRanks WordRanks::of(const ConcordanceLines &lines, const CorpusVocabulary &vocabulary,
                        const QList<SortKey> &keys)
{
    const quint32 size = vocabulary.size();
    // Only the words an order looks at are collated: the rest may be many.
    bool hit = keys.isEmpty();
    std::array<bool, 2 * kNeighbourWords> at{};
    for (const SortKey key : keys) {
        if (key == SortKey::Hit)
            hit = true;
        else if (key < SortKey::Hit)
            at[size_t(key)] = true;
        else if (key <= SortKey::Right5)
            at[size_t(key) - 1] = true;
    }
    if (keys.isEmpty())
        at.fill(true);
    std::vector<quint8> named(size, 0);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ConcordanceLine &line = lines[i];
        if (line.failed)
            continue;
        if (hit && line.hitWord < size)
            named[line.hitWord] = 1;
        for (size_t k = 0; k < at.size(); ++k) {
            const quint32 n = line.neighbours[k];
            if (at[k] && n > 0 && n - 1 < size)
                named[n - 1] = 1;
        }
    }
    return ofNamed(named, vocabulary);
}

WordRanks WordRanks::ofNamed(const std::vector<quint8> &named, const CorpusVocabulary &vocabulary)
{
    WordRanks ranks;
    QStringList words;
    std::vector<quint32> ids;
    for (quint32 id = 0; id < named.size(); ++id) {
        if (named[id]) {
            words.append(vocabulary.word(id));
            ids.push_back(id);
        }
    }
    const std::vector<quint32> collated = collationRanks(words);
    ranks.m_ranks.assign(named.size(), 0);
    for (size_t i = 0; i < ids.size(); ++i)
        ranks.m_ranks[ids[i]] = collated[i] + 1;
    return ranks;
}

std::vector<quint32> WordRanks::ofNames(const QStringList &names)
{
    return collationRanks(names);
}

std::vector<qint32> concordanceOrder(const ConcordanceLines &lines, const QList<SortKey> &keys,
                                     const WordRanks &ranks, const std::vector<quint32> &fileRanks)
{
    const auto valueOf = [&](const ConcordanceLine &line, SortKey key) -> quint32 {
        switch (key) {
        case SortKey::Hit:
            return ranks.rank(line.hitWord + 1);
        case SortKey::File:
            return size_t(line.file) < fileRanks.size() ? fileRanks[size_t(line.file)] : 0;
        case SortKey::Position:
            return 0; // text order: the last key of every order
        default: // 5L .. 1L lie before Hit in the order of the keys, 1R .. 5R after it
            return ranks.rank(line.neighbour(int(key) - int(SortKey::Hit)));
        }
    };
    // Text order ends an order: the keys after it decide nothing.
    QList<SortKey> levels;
    for (const SortKey key : keys) {
        if (key == SortKey::Position)
            break;
        levels.append(key);
    }
    const qsizetype n = lines.size();
    std::vector<std::array<quint32, 3>> values(static_cast<size_t>(n));
    for (qsizetype i = 0; i < n; ++i) {
        const ConcordanceLine &line = lines[i];
        for (int level = 0; level < 3; ++level)
            values[size_t(i)][size_t(level)] = level < levels.size() && !line.failed ? valueOf(line, levels.at(level)) : 0;
    }
    return orderByValues(std::move(values));
}

std::vector<qint32> orderByValues(std::vector<std::array<quint32, 3>> values)
{
    // Lines come in text order, so a stable order by the keys leaves ties in text order: the keys
    // of three levels packed into one number, the line's place breaking ties.
    struct Keyed
    {
        quint64 key;
        qint32 index;
    };
    const size_t n = values.size();
    quint32 largest = 0;
    for (const auto &v : values)
        largest = std::max({largest, v[0], v[1], v[2]});
    int bits = 1;
    while (bits < 32 && (quint64(1) << bits) <= largest)
        ++bits;
    std::vector<qint32> order(n);
    if (3 * bits <= 64) {
        std::vector<Keyed> keyed(n);
        for (size_t i = 0; i < n; ++i) {
            const auto &v = values[i];
            keyed[i] = {(quint64(v[0]) << (2 * bits)) | (quint64(v[1]) << bits) | quint64(v[2]), qint32(i)};
        }
        values = {};
        std::sort(keyed.begin(), keyed.end(),
                  [](const Keyed &a, const Keyed &b) { return a.key != b.key ? a.key < b.key : a.index < b.index; });
        for (size_t i = 0; i < n; ++i)
            order[i] = keyed[i].index;
        return order;
    }
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qint32 a, qint32 b) { return values[size_t(a)] < values[size_t(b)]; });
    return order;
}

TextSpan neighbourSpan(const ConcordanceLine &line, int distance, WordFinder &finder)
{
    if (distance == 0 || line.failed || std::abs(distance) > kNeighbourWords)
        return {};
    struct Spans : WordSink
    {
        std::vector<std::pair<qsizetype, qsizetype>> found;
        void word(QStringView, qsizetype start, qsizetype end) override { found.emplace_back(start, end); }
    } spans;
    const qsizetype offset = distance < 0 ? 0 : line.leftLength + line.hitLength;
    finder.findSingleWords(distance < 0 ? line.left() : line.right(), spans);
    const size_t k = size_t(std::abs(distance)) - 1;
    if (k >= spans.found.size())
        return {};
    const auto &[start, end] = distance < 0 ? spans.found[spans.found.size() - 1 - k] : spans.found[k];
    // The farthest word of the left context may be cut by its edge: then it is not the word. A
    // context that begins where the file does cuts nothing (the text before the hit holds no more
    // than the context: the line's text keeps the file's places, one unit for one).
    if (distance < 0 && start == 0 && line.leftLength > 0 && line.hitStart > line.leftLength)
        return {};
    return {offset + start, end - start};
}

} // namespace corvalen
