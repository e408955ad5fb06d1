#pragma once

#include "workbench/workbenchtab.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QTableView;

namespace corvalen {

/// The dispersion of the workbench's query: one row per corpus file, in corpus order, with its
/// words, its hits, hits per 1,000 words, Juilland's D (empty without hits) and a strip with a
/// mark at each hit's place among the file's words.
class DispersionModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { FileColumn, WordsColumn, HitsColumn, PerThousandColumn, JuillandColumn, PlotColumn, ColumnCount };

    explicit DispersionModel(Workbench &workbench, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// Takes the hits found so far again.
    void refresh();

    /// A file's hits' places among its words (first words of the hits, from 0), ascending.
    const std::vector<qint64> &positions(qint32 file) const { return m_rows[size_t(file)].positions; }
    /// A file's counted words; -1 for a file that could not be read, -2 while unknown.
    qint64 words(qint32 file) const { return m_rows[size_t(file)].words; }
    std::optional<double> juillandD(qint32 file) const { return m_rows[size_t(file)].d; }
    double perThousand(qint32 file) const;
    /// The marks of a file's strip of a width in pixels: for each pixel column, whether a hit
    /// falls in it. Made once per file and width.
    const std::vector<bool> &marks(qint32 file, int width) const;
    /// Where a hit's mark stands in a strip of a width.
    static int markX(qint64 position, qint64 words, int width);
    /// The workbench line of the hit whose mark is nearest x in a file's strip of a width, within
    /// a few pixels; -1 when none is.
    qsizetype hitNear(qint32 file, int x, int width) const;
    /// All marks together.
    qint64 markCount() const { return m_marks; }

private:
    struct Row
    {
        qint64 words = -2;
        std::vector<qint64> positions;
        std::optional<double> d;
        mutable int marksWidth = -1;
        mutable std::vector<bool> marks;
    };
    Workbench &m_workbench;
    std::vector<Row> m_rows;
    qint64 m_marks = 0;
};

/// Paints a file's strip: a line along it with a thin mark at each hit.
class StripDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    StripDelegate(const DispersionModel &model, QObject *parent = nullptr) : QStyledItemDelegate(parent), m_model(model) { }
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    /// The strip's area in a cell.
    static QRect stripRect(const QRect &cell);
    static void paintStrip(QPainter &painter, const QRect &strip, const std::vector<bool> &marks, const QColor &ink);

private:
    const DispersionModel &m_model;
};

/// "Plot": where the query's hits fall in each file. A click on a mark shows that hit in its
/// file; "Save Image..." writes the plot as PNG or SVG.
class PlotTab : public WorkbenchTab
{
    Q_OBJECT

public:
    explicit PlotTab(Workbench &workbench, QWidget *parent = nullptr);

    QString title() const override { return tr("Plot"); }

    DispersionModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    QLabel *titleLabel() const { return m_title; }

    /// Asks for a file and writes the plot there: SVG for a name ending in .svg, else PNG.
    void saveImage();
    /// Writes the plot to path; false with error naming the file and the reason.
    bool writeImage(const QString &path, QString *error);
    /// Draws every row of the plot, as the image has it, in size.
    void render(QPainter &painter, const QSize &size) const;
    QSize imageSize() const;
    /// The widths of the image's columns but the plot: as wide as in the window, and as their
    /// headers and figures need (file names are cut to the window's width).
    std::vector<int> imageColumnWidths() const;

signals:
    /// The plot shows the hits found (after a search, or when the tab is shown).
    void refreshed();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void refreshSoon();
    QString plotTitle() const;

    DispersionModel *m_model = nullptr;
    QTableView *m_view = nullptr;
    QLabel *m_title = nullptr;
    QPushButton *m_save = nullptr;
    bool m_stale = true;
    bool m_refreshQueued = false;
};

} // namespace corvalen
