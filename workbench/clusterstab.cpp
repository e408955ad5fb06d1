#include "workbench/clusterstab.h"

#include "workbench/corpustablemodel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

namespace corvalen {

QList<CorpusTableColumn> ClustersTab::columns()
{
    using Kind = CorpusTableColumn::Kind;
    return {{tr("Cluster"), Kind::Text}, {tr("Count"), Kind::Count}, {tr("Files"), Kind::Count}};
}

ClustersTab::ClustersTab(Workbench &workbench, QWidget *parent) : CorpusTableTab(workbench, parent)
{
    setObjectName(u"clustersTab"_qs);
    startButton()->setObjectName(u"startClusters"_qs);
    startButton()->setToolTip(tr("Finds the clusters of the query."));
    stopButton()->setObjectName(u"stopClusters"_qs);
    statusLabel()->setObjectName(u"clustersStatus"_qs);
    view()->setObjectName(u"clustersTable"_qs);

    QLineEdit *query = createQueryField(u"clustersQuery"_qs, tr("A word or a phrase"));
    query->setAccessibleName(tr("Query"));
    query->setToolTip(tr("The word or phrase the clusters hold; the query of every tool."));
    m_minSize = new QSpinBox(this);
    m_minSize->setObjectName(u"minClusterSize"_qs);
    m_minSize->setAccessibleName(tr("Fewest words"));
    m_maxSize = new QSpinBox(this);
    m_maxSize->setObjectName(u"maxClusterSize"_qs);
    m_maxSize->setAccessibleName(tr("Most words"));
    for (QSpinBox *box : {m_minSize, m_maxSize}) {
        box->setRange(ClusterRequest::kMinSize, ClusterRequest::kMaxSize);
        box->setKeyboardTracking(false);
    }
    m_minSize->setValue(2);
    m_maxSize->setValue(4);
    m_place = new QComboBox(this);
    m_place->setObjectName(u"clusterPlace"_qs);
    m_place->setAccessibleName(tr("Where the query stands"));
    m_place->addItem(tr("Left"), int(ClusterPlace::Left));
    m_place->addItem(tr("Right"), int(ClusterPlace::Right));
    m_place->addItem(tr("Anywhere"), int(ClusterPlace::Anywhere));
    m_place->setCurrentIndex(m_place->findData(int(ClusterPlace::Anywhere)));
    m_place->setToolTip(tr("Left: clusters that start with the query; Right: that end with it; Anywhere: that hold it."));
    m_minCount = new QSpinBox(this);
    m_minCount->setObjectName(u"minClusterCount"_qs);
    m_minCount->setAccessibleName(tr("Least count"));
    m_minCount->setRange(0, 1000000000);
    m_minCount->setValue(2);
    m_minCount->setKeyboardTracking(false);
    m_minCount->setGroupSeparatorShown(true);

    auto *queryLabel = new QLabel(tr("Q&uery:"), this);
    queryLabel->setBuddy(query);
    auto *sizeLabel = new QLabel(tr("&Words:"), this);
    sizeLabel->setBuddy(m_minSize);
    auto *placeLabel = new QLabel(tr("&Query at:"), this);
    placeLabel->setBuddy(m_place);
    auto *countLabel = new QLabel(tr("At &least:"), this);
    countLabel->setBuddy(m_minCount);
    // The query on a row of its own, as Collocates has its node.
    auto *queryRow = new QHBoxLayout;
    queryRow->addWidget(queryLabel);
    queryRow->addWidget(query, 1);
    queryRow->addWidget(startButton());
    queryRow->addWidget(stopButton());
    auto *settings = new QHBoxLayout;
    settings->addWidget(sizeLabel);
    settings->addWidget(m_minSize);
    settings->addWidget(new QLabel(tr("to"), this));
    settings->addWidget(m_maxSize);
    settings->addSpacing(12);
    settings->addWidget(placeLabel);
    settings->addWidget(m_place);
    settings->addSpacing(12);
    settings->addWidget(countLabel);
    settings->addWidget(m_minCount);
    settings->addWidget(new QLabel(tr("times"), this));
    settings->addStretch();
    auto *rows = new QVBoxLayout;
    rows->addLayout(queryRow);
    rows->addLayout(settings);
    finishLayout(rows, columns());

    // The shortest cluster is never longer than the longest.
    connect(m_minSize, &QSpinBox::valueChanged, this, [this](int n) {
        if (m_maxSize->value() < n)
            m_maxSize->setValue(n);
        settingsChanged();
    });
    connect(m_maxSize, &QSpinBox::valueChanged, this, [this](int n) {
        if (m_minSize->value() > n)
            m_minSize->setValue(n);
        settingsChanged();
    });
    connect(m_place, &QComboBox::currentIndexChanged, this, &ClustersTab::settingsChanged);
    connect(m_minCount, &QSpinBox::valueChanged, this, &ClustersTab::minCountChanged);
    if (m_workbench.options().rules.phraseLength > 1) {
        startButton()->setEnabled(false);
        query->setEnabled(false);
        setStatus(tr("Clusters are runs of single words: a count of phrases (Phrases of %1 words) has none. Count "
                     "single words to find them.").arg(m_workbench.options().rules.phraseLength));
    } else {
        setStatus(tr("Type a word or a phrase and press Enter: the runs of words around its hits are counted here."));
    }
}

void ClustersTab::shown()
{
    if (!m_workbench.hasQuery() || isRunning() || !startButton()->isEnabled())
        return;
    if (m_considered && sameQueryWords(*m_considered, m_workbench.query()))
        return;
    start();
}

void ClustersTab::start()
{
    if (!startButton()->isEnabled() || !takeQueryField())
        return;
    if (!m_workbench.hasQuery()) {
        setStatus(tr("Type a word or a phrase first: the runs of words around its hits are counted here."));
        emit tableShown();
        return;
    }
    m_considered = m_workbench.query();
    scan(m_workbench.query(), *m_workbench.parsedQuery());
}

void ClustersTab::settingsChanged()
{
    if (m_ranQuery && m_ranParsed)
        scan(*m_ranQuery, *m_ranParsed);
}

void ClustersTab::minCountChanged()
{
    // Fewer counts than were looked for need the corpus read again; more are a choice among them.
    if (m_raw && m_minCount->value() >= m_ranMinCount)
        select();
    else
        settingsChanged();
}

void ClustersTab::scan(const WorkbenchQuery &query, const CorpusQuery &parsed)
{
    m_ranQuery = query;
    m_ranParsed = parsed;
    m_raw.reset();
    clearTable();
    if (parsed.length() > m_maxSize->value()) {
        stop();
        setStatus(tr("The query is %1 words: longer than the longest cluster.").arg(parsed.length()));
        emit tableShown();
        return;
    }
    setStatus(tr("Finding the clusters of \u201c%1\u201d...").arg(query.text.trimmed()));
    ClusterRequest request;
    request.files = m_workbench.files();
    request.finder = m_workbench.finder();
    request.query = parsed;
    request.minSize = m_minSize->value();
    request.maxSize = m_maxSize->value();
    request.place = ClusterPlace(m_place->currentData().toInt());
    request.minCount = m_minCount->value();
    m_ranMinCount = request.minCount;
    auto found = std::make_shared<ClusterResult>();
    run([request, found](const std::atomic<bool> &stop, Progress &progress) {
            *found = findClusters(request, &stop, &progress);
        },
        [this, found] {
            if (!found->complete)
                return;
            m_raw = found;
            select();
        });
}

void ClustersTab::select()
{
    if (!m_raw)
        return;
    const std::shared_ptr<const ClusterResult> raw = m_raw;
    const qint64 least = m_minCount->value();
    auto table = std::make_shared<CorpusTable>(columns());
    const QString query = m_ranQuery ? m_ranQuery->text.trimmed() : QString();
    run([raw, least, table](const std::atomic<bool> &, Progress &) {
            const std::vector<ClusterRow> rows = selectClusters(raw->rows, least);
            table->reserve(qsizetype(rows.size()));
            for (const ClusterRow &r : rows)
                table->addRow({r.cluster}, {double(r.count), double(r.files)});
            table->rankTexts();
        },
        [this, raw, table, query] {
            showTable(table, CountColumn);
            QString status = tr("%Ln cluster(s) of \u201c%1\u201d", nullptr, int(table->rowCount())).arg(query);
            if (!raw->failures.empty())
                status += u"; "_qs + tr("%Ln file(s) could not be read", nullptr, int(raw->failures.size()));
            setStatus(status + u'.');
            emit tableShown();
        });
}

void ClustersTab::activateRow(qint32 row)
{
    const std::shared_ptr<const CorpusTable> &table = model()->table();
    if (!table)
        return;
    // The cluster as a phrase of the words as counted.
    WorkbenchQuery query = m_ranQuery.value_or(m_workbench.query());
    query.text = table->text(row, ClusterColumn);
    query.mode = QueryMode::Words;
    query.matchCase = !m_workbench.options().ignoreCase;
    query.companion.clear();
    m_workbench.showConcordance(query);
    m_considered = m_workbench.query();
}

} // namespace corvalen
