#pragma once

#include "workbench/wordlistindex.h"

#include <QPointF>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QCategoryAxis;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace corvalen {

class Prompter;

/// One bar of the top words chart.
struct WordBar
{
    QString word;
    qint64 count = 0;
    qint64 files = 0; ///< the files the word occurs in, in combined mode with the range; else 0
};

/// The n most frequent words of one file (file >= 0) or of all files together (file < 0),
/// most frequent first, ties in the usual order; only words whose flag in matches is set, when
/// matches is given.
std::vector<WordBar> topWords(const WordListIndex &index, qint32 file, qsizetype n,
                              const std::vector<char> *matches);
/// The tooltip of a bar: the word and its count, and the number of its files when known.
QString barToolTip(const WordBar &bar);

/// The count axis of the top words chart: from 0 to top, a tick every step (1, 2 or 5 times a
/// power of ten, at least 1), about five of them.
struct CountAxis
{
    qint64 top = 1;
    qint64 step = 1;
};
CountAxis countAxis(qint64 largest);

/// The ranks the Zipf line is fitted over: on logarithmic axes evenly spaced, ten to a decade
/// (the ranks nearest to 10^(k/10): 1, 2, 3, 4, 5, 6, 8, 10, 13, 16, 20, 25, ...), each once.
inline constexpr int kFitRanksPerDecade = 10;
std::vector<qint64> zipfFitRanks(qint64 ranks);

/// The rank/frequency plot of one file or of all files: points on logarithmic axes and the
/// least-squares line through log10(frequency) against log10(rank), over the ranks of
/// zipfFitRanks().
struct RankFrequency
{
    std::vector<QPointF> points; // (rank, frequency); a run of equal frequencies by its ends
    qint64 ranks = 0;
    double slope = 0; // of the fitted line; Zipf's law gives about -1
    double intercept = 0; // log10 of the fitted frequency at rank 1
};
RankFrequency rankFrequency(const WordListIndex &index, qint32 file);

/// The word list's chart: the top words as bars, or the rank/frequency plot with its Zipf line;
/// in per-file mode for one file or all files. "Save Image..." writes PNG or SVG.
class WordListChart : public QWidget
{
    Q_OBJECT

public:
    enum class Kind { TopWords, RankFrequency };

    WordListChart(Prompter &prompter, QWidget *parent = nullptr);

    /// The words to show; matches (one flag per word) is the find filter, null for none.
    void setIndex(std::shared_ptr<const WordListIndex> index);
    void setMatches(std::shared_ptr<const std::vector<char>> matches);

    void setKind(Kind kind);
    Kind kind() const;
    void setTopCount(int n);
    /// -1 for all files, else a file of the index.
    void setFile(qint32 file);

    /// Builds the chart now (also done on every change while the chart is visible).
    void refresh();
    QChart *chart() const;
    QChartView *chartView() const { return m_view; }
    /// Shown instead of the chart when it has nothing to draw (a find without a match).
    QLabel *emptyLabel() const { return m_empty; }
    /// The bars whose words are written under them (every one when they fit), as indexes.
    QList<int> labelledBars() const;

    /// Asks for a file and writes the chart there: SVG for a name ending in .svg, else PNG.
    void saveImage();
    /// Writes the chart to path; false with error naming the file and the reason.
    bool writeImage(const QString &path, QString *error);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void changed();
    qint32 file() const;
    bool countsPhrases() const;
    void showEmpty(const QString &text);
    /// Writes the words under as many bars as have room for them.
    void labelBars();

    Prompter &m_prompter;
    std::shared_ptr<const WordListIndex> m_index;
    std::shared_ptr<const std::vector<char>> m_matches;
    QComboBox *m_kind = nullptr;
    QSpinBox *m_top = nullptr;
    QComboBox *m_file = nullptr;
    QPushButton *m_save = nullptr;
    QChartView *m_view = nullptr;
    QLabel *m_empty = nullptr;
    QLabel *m_topLabel = nullptr;
    bool m_stale = true;
    // The top words chart: its axis of words, their labels, and every how many bars they stand.
    QCategoryAxis *m_wordAxis = nullptr;
    QStringList m_barLabels;
    int m_labelStep = 0;
};

} // namespace corvalen
