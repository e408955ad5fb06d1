#pragma once

#include "corpus/clusters.h"
#include "workbench/corpustabletab.h"
#include "workbench/workbench.h"

#include <optional>

class QComboBox;
class QSpinBox;

namespace corvalen {

/// "Clusters": the recurring runs of words around the workbench's query (in the tab's own field or
/// searched for in any tool; 2 to 5 words, holding it at their start, their end or anywhere), each
/// with its count and the files it occurs in, most frequent first. A double click shows the
/// concordance of a cluster as a phrase.
class ClustersTab : public CorpusTableTab
{
    Q_OBJECT

public:
    enum Column { ClusterColumn, CountColumn, FilesColumn };

    explicit ClustersTab(Workbench &workbench, QWidget *parent = nullptr);

    QString title() const override { return tr("Clusters"); }

    /// Finds the clusters of the workbench's query with the settings shown.
    void start() override;

    QSpinBox *minSizeBox() const { return m_minSize; }
    QSpinBox *maxSizeBox() const { return m_maxSize; }
    QComboBox *placeBox() const { return m_place; }
    QSpinBox *minCountBox() const { return m_minCount; }
    static QList<CorpusTableColumn> columns();

protected:
    void activateRow(qint32 row) override;
    void shown() override;

private:
    void scan(const WorkbenchQuery &query, const CorpusQuery &parsed);
    void select();
    void settingsChanged();
    void minCountChanged();

    QSpinBox *m_minSize = nullptr;
    QSpinBox *m_maxSize = nullptr;
    QComboBox *m_place = nullptr;
    QSpinBox *m_minCount = nullptr;

    // What the table is of, and every cluster found for it (down to the count it was found with).
    std::optional<WorkbenchQuery> m_ranQuery;
    std::optional<CorpusQuery> m_ranParsed;
    qint64 m_ranMinCount = 0;
    std::shared_ptr<const ClusterResult> m_raw;
    std::optional<WorkbenchQuery> m_considered;
};

} // namespace corvalen
