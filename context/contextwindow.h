#pragma once

#include "documents/occurrencefinder.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;

namespace corvalen {

class Prompter;

/// How the lines of a context view are ordered: as found, or by one of its columns.
enum class ContextOrder { Text, File, Left, Occurrence, Right };

/// The lines of a context view: file, text to the left (right-aligned), the occurrence
/// (highlighted) and the text to the right, in the order chosen.
class ContextModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { FileColumn, LeftColumn, WordColumn, RightColumn };

    ContextModel(QStringList fileLabels, QObject *parent = nullptr);
    ~ContextModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const QStringList &fileLabels() const { return m_fileLabels; }

    void clear();
    void append(const QList<ContextLine> &lines);
    /// Orders the lines: as found, or by a column (the text to the left read from the word
    /// outwards), by the locale's collation, A first or reversed, ties in text order. A long list
    /// is ordered on another thread: the lines stay as they are shown until orderShown(); lines
    /// that come meanwhile follow the ordered ones.
    void setOrder(ContextOrder order, Qt::SortOrder direction = Qt::AscendingOrder);
    /// The order chosen (shown, or being prepared).
    ContextOrder order() const { return m_order; }
    Qt::SortOrder direction() const { return m_direction; }
    /// The column an order goes by; -1 for text order.
    static int columnOf(ContextOrder order);
    bool isOrdering() const { return m_ordering; }

    /// Lines found (a file that could not be read is one line, and no occurrence).
    qint64 occurrenceCount() const { return m_occurrences; }
    /// A line as copied and saved: file, left, occurrence, right, tab-separated.
    QString lineText(int row) const;

    /// Lines ordered at once, on the calling thread; more are ordered on another.
    static constexpr int kOrderedAtOnce = 2000;

signals:
    /// A long list is being ordered (the lines shown keep their places meanwhile).
    void orderingStarted();
    /// The order chosen is shown.
    void orderShown();

private:
    // The lines as found, in blocks that a thread ordering them shares: only the last, not yet
    // full, is ever changed (and copied for such a thread).
    using Block = std::vector<ContextLine>;
    const ContextLine &line(qint32 i) const;
    const ContextLine &lineAt(int row) const { return line(m_shown[size_t(row)]); }
    void showOrder(std::vector<qint32> ordered);

    QStringList m_fileLabels;
    std::vector<std::shared_ptr<Block>> m_blocks;
    qint32 m_lineCount = 0;
    std::vector<qint32> m_shown; // the lines in the order shown
    ContextOrder m_order = ContextOrder::Text;
    Qt::SortOrder m_direction = Qt::AscendingOrder;
    bool m_ordering = false;
    qint64 m_occurrences = 0;
    // Changes whenever an ordering under way is no longer wanted (other lines, another order).
    std::shared_ptr<std::atomic<quint64>> m_orderGeneration;
};

/// Every occurrence of one counted word in the files of a run, in its context: a window of its
/// own that lists the lines as they are found, off its thread, and can stop the search, change
/// the width of the context, order, copy and save the lines.
class ContextWindow : public QWidget
{
    Q_OBJECT

public:
    ContextWindow(const OccurrenceQuery &query, Prompter &prompter, QWidget *parent = nullptr);
    ~ContextWindow() override;

    bool isSearching() const { return m_search->isRunning(); }
    /// Ends the search; the lines found so far stay.
    void stop();
    /// Searches again with another width (20 to 200 characters).
    void setContextWidth(int width);
    /// Orders the lines as the Order list or a click on a column's header does (a second click
    /// reverses the order).
    void setOrder(ContextOrder order, Qt::SortOrder direction = Qt::AscendingOrder);
    /// "Copy": the selected lines, in the order shown, tab-separated.
    void copySelectedLines();
    /// "Save...": asks for a file and writes every line to it.
    void save();
    /// Writes every line, in the order shown, as UTF-8 text to path; false with error set.
    bool saveTo(const QString &path, QString *error);

    ContextModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    const OccurrenceQuery &query() const { return m_query; }

    /// A long list is being ordered (on another thread).
    bool isOrdering() const { return m_model->isOrdering(); }

signals:
    /// The search ended (all found, or stopped).
    void searchFinished();
    /// The order chosen is shown.
    void orderShown();

private:
    void startSearch();
    void searchEnded(bool stopped);
    void fitColumns();
    void updateTitle();

    OccurrenceQuery m_query;
    Prompter &m_prompter;
    OccurrenceSearch *m_search;
    ContextModel *m_model;
    QTableView *m_view;
    QLabel *m_status;
    QPushButton *m_stop;
    QSpinBox *m_width;
    QComboBox *m_order;
    bool m_stopped = false;
};

} // namespace corvalen
