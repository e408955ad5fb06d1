#pragma once

#include "corpus/concordance.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QStyledItemDelegate>

#include <array>
#include <memory>
#include <vector>

namespace corvalen {

class Workbench;

/// A piece of a cell's text coloured for the sort level whose word it is (0 red, 1 green, 2 blue),
/// or highlighted as the collocate the lines keep company with (kCompanionLevel).
struct ColouredSpan
{
    qsizetype start = 0;
    qsizetype length = 0;
    int level = 0;
    friend bool operator==(const ColouredSpan &, const ColouredSpan &) = default;
};

/// The lines of the workbench's query as the concordance lists them: "Hit" (the line's number as
/// shown), "File", "Left" (right-aligned), "Hit" (the hit as it stands in the text) and "Right",
/// in text order or by up to three sort levels. A view over the workbench's lines, never one item
/// per line: a million lines cost their place in the order and nothing more.
class ConcordanceModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { NumberColumn, FileColumn, LeftColumn, HitColumn, RightColumn, ColumnCount };
    /// QList<ColouredSpan> of a cell: the words at the sort positions, coloured by level.
    static constexpr int SpansRole = Qt::UserRole + 1;
    /// The line's place in text order (the workbench's numbering).
    static constexpr int LineRole = Qt::UserRole + 2;
    /// The level of a collocate's spans, after the three sort levels.
    static constexpr int kCompanionLevel = 3;

    explicit ConcordanceModel(Workbench &workbench, QObject *parent = nullptr);
    ~ConcordanceModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// Orders the lines by up to three levels (ties by the next, then text order); Position, or no
    /// level, is text order. Lines are ordered on another thread once the search has ended: until
    /// then they stay in text order, and orderShown() tells when the order is there.
    void setSortKeys(const QList<SortKey> &keys);
    /// The levels chosen (shown, or being prepared).
    const QList<SortKey> &sortKeys() const { return m_keys; }
    /// The levels the lines are shown in now.
    const QList<SortKey> &shownKeys() const { return m_shownKeys; }
    bool isOrdering() const { return m_ordering; }

    /// The workbench's line of a row.
    qsizetype lineOf(int row) const;
    /// The row that shows a workbench line; -1 when none does.
    int rowOf(qsizetype line) const;
    /// The coloured pieces of a cell.
    QList<ColouredSpan> spans(int row, int column) const;

    static QColor levelColour(int level);

signals:
    void orderingStarted();
    /// The order chosen is shown.
    void orderShown();

private:
    void clearLines();
    void linesAdded(qsizetype from, qsizetype to);
    void searchEnded();
    void order();
    void takeCompanion();
    void addCompanionSpans(const ConcordanceLine &line) const;

    Workbench &m_workbench;
    // The collocate of a companion search, found again in the lines' contexts within its span.
    std::optional<CorpusQuery> m_companion;
    std::unique_ptr<QueryMatcher> m_companionMatcher;
    int m_companionLeft = 0;
    int m_companionRight = 0;
    std::unique_ptr<WordFinder> m_finder; // finds the neighbours again in the lines' texts
    QList<SortKey> m_keys;
    QList<SortKey> m_shownKeys;
    std::vector<qint32> m_order; // rows in text order when empty
    std::vector<qint32> m_rowOfLine; // the inverse of m_order, made when asked
    qsizetype m_rows = 0;
    bool m_ordering = false;
    bool m_orderAgain = false; // the levels changed while a thread was ordering
    std::vector<quint32> m_fileRanks;
    std::shared_ptr<int> m_alive; // a thread's result finds the model gone
    // The spans of the row asked last: a row's cells are painted one after another.
    mutable int m_spansRow = -1;
    mutable std::array<QList<ColouredSpan>, ColumnCount> m_spans;
};

/// Paints the concordance's cells: the left context right-aligned (its start cut when it is too
/// long), the hit in bold, and the words at the sort positions in their level's colour.
class ConcordanceDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace corvalen

Q_DECLARE_METATYPE(corvalen::ColouredSpan)
