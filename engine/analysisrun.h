#pragma once

#include "engine/countedrows.h"
#include "engine/progress.h"
#include "engine/resulttable.h"

#include <QStringList>
#include <QStringView>

#include <functional>
#include <vector>

namespace corvalen {

class ErrorReporter;

/// Where a run gets each file's text from.
class TextSource
{
public:
    using Sink = std::function<void(QStringView chunk)>;
    virtual ~TextSource() = default;
    /// Streams the main-body text of one file to sink, in chunks of any size, paragraphs ended
    /// by carriage returns. Reports its own failures. Returns whether the text is complete:
    /// false when reading failed, also after part of the text was handed on (the run then
    /// takes that part back).
    virtual bool readText(const QString &path, const Sink &sink) = 0;
};

/// Step numbers of the run that its error reports cite (combined / per-file mode).
namespace RunStep {
inline constexpr int ReadCombined = 122, ReadPerFile = 274;
inline constexpr int TallyCombined = 176, TallyPerFile = 322;
inline constexpr int OrderCombined = 240, OrderPerFile = 386;
inline constexpr int WriteCombined = 250, WritePerFile = 396;
} // namespace RunStep

/// Receives a run's ordered rows one block at a time: one block per file in list order (per-file
/// mode), or a single block (combined mode). fileName is the file's name when the rows carry a
/// file name column, empty otherwise. A file without words gives an empty block.
using RowsSink = std::function<void(CountedRows &&rows, const QString &fileName)>;

/// Which files a run counted: counted[i] for paths[i] is false for a file that could not be read
/// or counted (its failure reported), or that a cancel left out; its words are in no row.
struct RunOutcome
{
    std::vector<bool> counted;
    qsizetype filesCounted() const;
};

/// Counts the words of the files in order, per file or combined, and hands each finished block
/// of rows to sink as soon as it is ordered, so that a caller need not hold them all.
///
/// Combined mode streams every text into one tally (texts joined with nothing between them) and
/// never holds them all. A file whose text is incomplete (the source failed, or the run failed
/// while taking it) contributes nothing: no words to the combined tally, an empty block in
/// per-file mode. A failure inside the run, the sink's included, is reported to reporter with
/// the step it failed in, and the run goes on with the next step. A file that runs out of memory
/// while it is counted ("Out of memory while counting FILE") is left out as one that could not
/// be read; when a combined count cannot leave it out, the count as a whole is lost and its block
/// is empty. A cancelled run stops after the blocks it has handed over; the file it was reading
/// is left out. Returns which files were counted.
RunOutcome runAnalysisRows(const QStringList &paths, const CountOptions &options, TextSource &source,
                           const RowsSink &sink, Progress *progress = nullptr,
                           ErrorReporter *reporter = nullptr);

/// runAnalysisRows() collected into a table: the rows and total.
ResultTable runAnalysis(const QStringList &paths, const CountOptions &options, TextSource &source,
                        Progress *progress = nullptr, ErrorReporter *reporter = nullptr);

/// A text source that reads plain UTF-8 files (a byte order mark dropped; CR LF, LF and CR each
/// end a paragraph). The document engine replaces it for real documents.
class Utf8FileSource : public TextSource
{
public:
    bool readText(const QString &path, const Sink &sink) override;
};

} // namespace corvalen
