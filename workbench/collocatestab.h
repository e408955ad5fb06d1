#pragma once

#include "corpus/collocates.h"
#include "workbench/corpustabletab.h"
#include "workbench/workbench.h"

#include <optional>

class QComboBox;
class QSpinBox;

namespace corvalen {

/// "Collocates": the words that keep company with the workbench's query (the node, one word, in
/// the tab's own field or searched for in any tool) within a span of words to its left and
/// right, with their co-occurrences and association measures, ordered by a measure. A double
/// click shows the node's lines that have the collocate within the span, the collocate
/// highlighted.
class CollocatesTab : public CorpusTableTab
{
    Q_OBJECT

public:
    enum Column {
        WordColumn, CooccurrenceColumn, LeftColumn, RightColumn, FrequencyColumn, MiColumn, Mi3Column,
        TScoreColumn, LogLikelihoodColumn, LogDiceColumn,
    };

    explicit CollocatesTab(Workbench &workbench, QWidget *parent = nullptr);

    QString title() const override { return tr("Collocates"); }

    /// Finds the collocates of the workbench's query with the settings shown.
    void start() override;
    /// Shows the collocates of a finished search as the settings select them (the benchmark and
    /// the tests give them directly).
    void showResult(std::shared_ptr<const CollocateResult> result, const WorkbenchQuery &node, int left, int right);

    QSpinBox *leftSpan() const { return m_left; }
    QSpinBox *rightSpan() const { return m_right; }
    QComboBox *measureBox() const { return m_measure; }
    QSpinBox *minCooccurrenceBox() const { return m_minCooccurrence; }
    QSpinBox *minFrequencyBox() const { return m_minFrequency; }
    /// The column a measure orders.
    static int columnOf(CollocateMeasure measure);
    static QList<CorpusTableColumn> columns();

protected:
    void activateRow(qint32 row) override;
    void shown() override;

private:
    void scan(const WorkbenchQuery &query, const CorpusQuery &node);
    void select();
    void spanChanged();
    CollocateMeasure measure() const;

    QSpinBox *m_left = nullptr;
    QSpinBox *m_right = nullptr;
    QComboBox *m_measure = nullptr;
    QSpinBox *m_minCooccurrence = nullptr;
    QSpinBox *m_minFrequency = nullptr;

    // What the table is of: the node's query and span, and every collocate found for them.
    std::optional<WorkbenchQuery> m_ranQuery;
    std::optional<CorpusQuery> m_ranNode;
    int m_ranLeft = 0;
    int m_ranRight = 0;
    std::shared_ptr<const CollocateResult> m_raw;
    // The query last taken on showing the tab: a new one is searched for on showing it again.
    std::optional<WorkbenchQuery> m_considered;
};

} // namespace corvalen
