#include "workbench/wordlistcharts.h"

#include "base/figures.h"
#include "base/prompter.h"
#include "windows/resultsexports.h"
#include "workbench/imagefile.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvalen {

namespace {

constexpr qsizetype kLabelLength = 24; // longer words are cut in the axis labels

// The counts of one file, or of all files together, with the word of each.
template<typename Visit>
void forEachCount(const WordListIndex &index, qint32 file, Visit &&visit)
{
    if (file < 0 || !index.perFile()) {
        for (qint32 w = 0; w < index.wordCount(); ++w)
            visit(w, index.wordTotal(w));
        return;
    }
    const WordListRows &rows = index.rows(false);
    const ResultTable &t = *rows.table;
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        if (t.fileIndex(r) == file)
            visit(rows.word[size_t(r)], t.count(r));
    }
}

QString axisLabel(const QString &word, QStringList &taken)
{
    QString label = word.size() > kLabelLength ? word.left(kLabelLength - 1) + u'\u2026' : word;
    // The category axis needs labels that differ: cut words may meet.
    const QString base = label;
    for (int n = 2; taken.contains(label); ++n)
        label = base + u" (" + QString::number(n) + u')';
    taken << label;
    return label;
}

// Every how many bars a label fits: labels turned upright take lineHeight pixels across, and
// bars bars share plotWidth pixels.
int labelStep(qsizetype bars, double plotWidth, int lineHeight)
{
    if (bars <= 0)
        return 1;
    const double room = plotWidth / double(bars); // each bar's share of the axis
    const double needed = lineHeight + 2; // an upright label and a little space
    if (room <= 0)
        return int(std::min<qsizetype>(bars, std::numeric_limits<int>::max()));
    return std::max(1, int(std::ceil(needed / room - 1e-9)));
}

} // namespace

QString barToolTip(const WordBar &bar)
{
    QString tip = WordListChart::tr("%1: %2").arg(bar.word, QLocale().toString(bar.count));
    if (bar.files > 0)
        tip += u'\n' + WordListChart::tr("Files: %1").arg(QLocale().toString(bar.files));
    return tip;
}

std::vector<WordBar> topWords(const WordListIndex &index, qint32 file, qsizetype n,
                              const std::vector<char> *matches)
{
    struct Candidate
    {
        qint64 count;
        qint32 rank;
        qint32 word;
    };
    std::vector<Candidate> candidates;
    forEachCount(index, file, [&](qint32 w, qint64 count) {
        if (!matches || (*matches)[size_t(w)])
            candidates.push_back({count, index.codeUnitRank(w), w});
    });
    const auto first = [](const Candidate &a, const Candidate &b) {
        return a.count != b.count ? a.count > b.count : a.rank < b.rank;
    };
    const auto end = candidates.begin() + std::min<qsizetype>(n, qsizetype(candidates.size()));
    std::partial_sort(candidates.begin(), end, candidates.end(), first);
    std::vector<WordBar> bars;
    for (auto c = candidates.begin(); c != end; ++c)
        bars.push_back({index.wordText(c->word).toString(), c->count, index.wordFiles(c->word)});
    return bars;
}

CountAxis countAxis(qint64 largest)
{
    if (largest <= 1)
        return {1, 1};
    // About five steps of 1, 2 or 5 times a power of ten, never less than 1.
    const double rough = double(largest) / 5.0;
    qint64 step = 1;
    for (qint64 power = 1; step < rough; power *= 10) {
        for (const qint64 m : {1, 2, 5}) {
            step = m * power;
            if (step >= rough)
                break;
        }
    }
    return {(largest + step - 1) / step * step, step};
}

std::vector<qint64> zipfFitRanks(qint64 ranks)
{
    std::vector<qint64> fit;
    for (int k = 0;; ++k) {
        const qint64 rank = std::llround(std::pow(10.0, k / double(kFitRanksPerDecade)));
        if (rank > ranks)
            return fit;
        if (fit.empty() || fit.back() != rank)
            fit.push_back(rank);
    }
}

RankFrequency rankFrequency(const WordListIndex &index, qint32 file)
{
    std::vector<qint64> counts;
    forEachCount(index, file, [&](qint32, qint64 count) { counts.push_back(count); });
    std::sort(counts.begin(), counts.end(), std::greater<qint64>());
    RankFrequency plot;
    plot.ranks = qint64(counts.size());
    for (size_t i = 0; i < counts.size(); ++i) {
        // A run of equal frequencies is a flat line: its two ends draw it.
        const bool runStart = i == 0 || counts[i - 1] != counts[i];
        const bool runEnd = i + 1 == counts.size() || counts[i + 1] != counts[i];
        if (runStart || runEnd)
            plot.points.emplace_back(double(i + 1), double(counts[i]));
    }
    // Least squares over every rank would follow the long tail of rare words, nine in ten ranks
    // of a large list: every decade of ranks weighs the same instead.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const std::vector<qint64> fitRanks = zipfFitRanks(plot.ranks);
    for (const qint64 rank : fitRanks) {
        const double x = std::log10(double(rank));
        const double y = std::log10(double(std::max<qint64>(counts[size_t(rank - 1)], 1)));
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double n = double(fitRanks.size());
    const double denominator = n * sxx - sx * sx;
    if (fitRanks.size() >= 2 && denominator > 0) {
        plot.slope = (n * sxy - sx * sy) / denominator;
        plot.intercept = (sy - plot.slope * sx) / n;
    } else if (!fitRanks.empty()) {
        plot.intercept = sy / n;
    }
    return plot;
}

WordListChart::WordListChart(Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_prompter(prompter)
{
    m_kind = new QComboBox(this);
    m_kind->setObjectName(u"chartKind"_qs);
    m_kind->addItem(tr("Top words"));
    m_kind->addItem(tr("Rank and frequency"));
    m_kind->setAccessibleName(tr("Chart"));
    m_top = new QSpinBox(this);
    m_top->setObjectName(u"chartTopCount"_qs);
    m_top->setRange(10, 100);
    m_top->setValue(25);
    m_file = new QComboBox(this);
    m_file->setObjectName(u"chartFile"_qs);
    m_file->setAccessibleName(tr("File"));
    m_save = new QPushButton(tr("Save Image..."), this);
    m_save->setObjectName(u"saveImage"_qs);
    m_view = new QChartView(this);
    m_view->setObjectName(u"chartView"_qs);
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(360, 260);
    m_empty = new QLabel(this);
    m_empty->setObjectName(u"chartEmpty"_qs);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);
    m_empty->setMinimumSize(360, 260);
    m_empty->hide();

    auto *controls = new QHBoxLayout;
    controls->addWidget(m_kind);
    m_topLabel = new QLabel(tr("Words:"), this);
    m_topLabel->setBuddy(m_top);
    controls->addWidget(m_topLabel);
    controls->addWidget(m_top);
    controls->addWidget(m_file, 1);
    controls->addStretch();
    controls->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_empty, 1);

    connect(m_kind, &QComboBox::currentIndexChanged, this, &WordListChart::changed);
    connect(m_top, &QSpinBox::valueChanged, this, &WordListChart::changed);
    connect(m_file, &QComboBox::currentIndexChanged, this, &WordListChart::changed);
    connect(m_save, &QPushButton::clicked, this, &WordListChart::saveImage);
    m_file->hide();
}

bool WordListChart::countsPhrases() const
{
    return m_index && m_index->snapshot().countsPhrases();
}

void WordListChart::setIndex(std::shared_ptr<const WordListIndex> index)
{
    m_index = std::move(index);
    const bool phrases = countsPhrases();
    m_kind->setItemText(0, phrases ? tr("Top phrases") : tr("Top words"));
    m_topLabel->setText(phrases ? tr("Phrases:") : tr("Words:"));
    m_top->setAccessibleName(phrases ? tr("Number of phrases") : tr("Number of words"));
    const QSignalBlocker block(m_file);
    m_file->clear();
    if (m_index && m_index->perFile()) {
        m_file->addItem(tr("All files"), -1);
        const QStringList labels = m_index->fileLabels();
        for (int i = 0; i < labels.size(); ++i)
            m_file->addItem(labels.at(i), i);
    }
    m_file->setVisible(m_file->count() > 0);
    changed();
}

void WordListChart::setMatches(std::shared_ptr<const std::vector<char>> matches)
{
    m_matches = std::move(matches);
    if (kind() == Kind::TopWords)
        changed();
}

void WordListChart::setKind(Kind kind)
{
    m_kind->setCurrentIndex(kind == Kind::TopWords ? 0 : 1);
}

WordListChart::Kind WordListChart::kind() const
{
    return m_kind->currentIndex() == 1 ? Kind::RankFrequency : Kind::TopWords;
}

void WordListChart::setTopCount(int n)
{
    m_top->setValue(n);
}

void WordListChart::setFile(qint32 file)
{
    const int at = m_file->findData(file);
    if (at >= 0)
        m_file->setCurrentIndex(at);
}

qint32 WordListChart::file() const
{
    return m_file->count() > 0 ? m_file->currentData().toInt() : -1;
}

QChart *WordListChart::chart() const
{
    return m_view->chart();
}

void WordListChart::changed()
{
    m_top->setEnabled(kind() == Kind::TopWords);
    m_stale = true;
    if (isVisible())
        refresh();
}

void WordListChart::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_stale)
        refresh();
}

void WordListChart::showEmpty(const QString &text)
{
    m_empty->setText(text);
    m_view->hide();
    m_empty->show();
    m_save->setEnabled(false);
}

void WordListChart::refresh()
{
    m_stale = false;
    m_wordAxis = nullptr;
    m_barLabels.clear();
    auto *chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    // Axis labels write their numbers as the rest of the window does.
    chart->setLocalizeNumbers(true);
    chart->setLocale(QLocale());
    const auto show = [this, chart] {
        QChart *old = m_view->chart();
        m_view->setChart(chart);
        delete old;
    };
    m_empty->hide();
    m_view->show();
    m_save->setEnabled(true);
    if (!m_index) {
        show();
        return;
    }
    const bool phrases = countsPhrases();
    const QString nothing = phrases ? tr("There are no phrases to show.") : tr("There are no words to show.");
    const QString where = file() >= 0 ? m_file->currentText() : QString();
    if (kind() == Kind::TopWords) {
        const std::vector<WordBar> bars = topWords(*m_index, file(), m_top->value(), m_matches.get());
        if (bars.empty()) {
            // An axis with nothing on it reads as a chart of zeros.
            show();
            showEmpty(!m_matches ? nothing
                              : phrases ? tr("No phrase matches the find.")
                                        : tr("No word matches the find."));
            return;
        }
        auto *set = new QBarSet(tr("Count"));
        QStringList labels;
        for (const WordBar &bar : bars) {
            *set << double(bar.count);
            axisLabel(bar.word, labels);
        }
        QStringList tips;
        for (const WordBar &bar : bars)
            tips << barToolTip(bar);
        connect(set, &QBarSet::hovered, this, [tips](bool on, int at) {
            if (on && at >= 0 && at < tips.size())
                QToolTip::showText(QCursor::pos(), tips.at(at));
            else
                QToolTip::hideText();
        });
        auto *series = new QBarSeries;
        series->append(set);
        chart->addSeries(series);
        // The bars stand at 0, 1, 2 ... of a value axis, whose labels can be left out where
        // they would overlap: every bar keeps its word in its tooltip.
        auto *x = new QCategoryAxis;
        x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        x->setStartValue(-0.5);
        x->setRange(-0.5, double(bars.size()) - 0.5);
        x->setLabelsAngle(-90);
        x->setTruncateLabels(false);
        x->setGridLineVisible(false);
        // Counts are whole numbers: ticks at whole numbers only, or a list of words counted once
        // would read 0, 0, 0, 1, 1.
        auto *y = new QValueAxis;
        y->setLabelFormat(u"%.0f"_qs);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        series->attachAxis(x);
        series->attachAxis(y);
        const CountAxis ticks = countAxis(bars.front().count);
        y->setRange(0, double(ticks.top));
        y->setTickType(QValueAxis::TicksDynamic);
        y->setTickAnchor(0);
        y->setTickInterval(double(ticks.step));
        y->setMinorTickCount(0);
        chart->legend()->hide();
        const int n = int(bars.size());
        if (phrases)
            chart->setTitle(where.isEmpty() ? tr("The %Ln most frequent phrases", nullptr, n)
                                            : tr("The %Ln most frequent phrases of %1", nullptr, n).arg(where));
        else
            chart->setTitle(where.isEmpty() ? tr("The %Ln most frequent words", nullptr, n)
                                            : tr("The %Ln most frequent words of %1", nullptr, n).arg(where));
        m_wordAxis = x;
        m_barLabels = labels;
        m_labelStep = 0;
        connect(chart, &QChart::plotAreaChanged, this, &WordListChart::labelBars);
        show();
        labelBars();
        return;
    }
    const RankFrequency plot = rankFrequency(*m_index, file());
    if (plot.ranks == 0) {
        show();
        showEmpty(nothing);
        return;
    }
    auto *words = new QLineSeries;
    words->setName(phrases ? tr("Phrases") : tr("Words"));
    for (const QPointF &p : plot.points)
        words->append(p);
    auto *fit = new QLineSeries;
    fit->setName(tr("Zipf fit, slope %1").arg(fixedFigure(QLocale(), plot.slope, 3)));
    const double last = double(plot.ranks);
    fit->append(1, std::pow(10.0, plot.intercept));
    fit->append(last, std::pow(10.0, plot.intercept + plot.slope * std::log10(last)));
    QPen dashed = fit->pen();
    dashed.setStyle(Qt::DashLine);
    dashed.setWidth(2);
    fit->setPen(dashed);
    chart->addSeries(words);
    chart->addSeries(fit);
    // Ranks and frequencies from 1 up: the powers of ten are whole numbers.
    auto *x = new QLogValueAxis;
    x->setTitleText(tr("Rank"));
    x->setLabelFormat(u"%.0f"_qs);
    x->setBase(10);
    auto *y = new QLogValueAxis;
    y->setTitleText(tr("Frequency"));
    y->setLabelFormat(u"%.0f"_qs);
    y->setBase(10);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QLineSeries *s : {words, fit}) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
    x->setRange(1, std::max(10.0, double(plot.ranks)));
    const double top = plot.points.empty() ? 10.0 : plot.points.front().y();
    y->setRange(1, std::max(10.0, top * 1.5));
    chart->setTitle(where.isEmpty() ? tr("Rank and frequency") : tr("Rank and frequency of %1").arg(where));
    show();
}

void WordListChart::labelBars()
{
    if (!m_wordAxis)
        return;
    const int step = labelStep(m_barLabels.size(), chart()->plotArea().width(),
                               QFontMetrics(m_wordAxis->labelsFont()).height());
    if (step == m_labelStep)
        return;
    m_labelStep = step;
    for (const QString &label : m_wordAxis->categoriesLabels())
        m_wordAxis->remove(label);
    for (int i = 0; i < m_barLabels.size(); i += step)
        m_wordAxis->append(m_barLabels.at(i), i);
}

QList<int> WordListChart::labelledBars() const
{
    QList<int> bars;
    if (!m_wordAxis || m_view->isHidden())
        return bars;
    for (const QString &label : m_wordAxis->categoriesLabels())
        bars << int(std::lround(m_wordAxis->endValue(label)));
    return bars;
}

void WordListChart::saveImage()
{
    const QString name = askSaveName(m_prompter, tr("Save Image"),
                                     {tr("PNG Image (*.png)"), tr("SVG Image (*.svg)")});
    if (name.isEmpty())
        return;
    QString error;
    if (!writeImage(name, &error))
        m_prompter.message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
}

bool WordListChart::writeImage(const QString &path, QString *error)
{
    const QSize viewSize = m_view->viewport()->size();
    const QSize size = viewSize.width() >= 640 && viewSize.height() >= 400 ? viewSize : QSize(800, 600);
    // The chart laid out at the image's size, whatever the window's, and put back afterwards.
    QChart *c = chart();
    const QRectF before = c->geometry();
    c->setGeometry(QRectF(before.topLeft(), size));
    c->layout()->activate();
    const auto draw = [&](QPainter &painter) {
        painter.setRenderHint(QPainter::Antialiasing);
        c->scene()->render(&painter, QRectF(QPointF(0, 0), size), c->geometry());
    };
    const bool saved = writeImageFile(path, size, c->title(), draw, QColor(Qt::white), error);
    c->setGeometry(before);
    return saved;
}

} // namespace corvalen
