#include "workbench/collocatestab.h"

#include "workbench/corpusjob.h"
#include "workbench/corpustablemodel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

namespace corvalen {

namespace {

QSpinBox *countBox(QWidget *parent, const QString &name, int value)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, 1000000000);
    box->setValue(value);
    box->setKeyboardTracking(false);
    box->setGroupSeparatorShown(true);
    return box;
}

} // namespace

QList<CorpusTableColumn> CollocatesTab::columns()
{
    using Kind = CorpusTableColumn::Kind;
    return {{tr("Collocate"), Kind::Text},         {tr("Co-occurrences"), Kind::Count}, {tr("Left"), Kind::Count},
            {tr("Right"), Kind::Count},            {tr("Frequency"), Kind::Count},      {tr("MI"), Kind::Decimal},
            {tr("MI3"), Kind::Decimal},            {tr("T-score"), Kind::Decimal},     {tr("Log-likelihood"), Kind::Decimal},
            {tr("logDice"), Kind::Decimal}};
}

int CollocatesTab::columnOf(CollocateMeasure measure)
{
    switch (measure) {
    case CollocateMeasure::LogLikelihood:
        return LogLikelihoodColumn;
    case CollocateMeasure::MI:
        return MiColumn;
    case CollocateMeasure::MI3:
        return Mi3Column;
    case CollocateMeasure::TScore:
        return TScoreColumn;
    case CollocateMeasure::LogDice:
        return LogDiceColumn;
    case CollocateMeasure::Frequency:
        return CooccurrenceColumn;
    }
    return LogLikelihoodColumn;
}

CollocatesTab::CollocatesTab(Workbench &workbench, QWidget *parent) : CorpusTableTab(workbench, parent)
{
    setObjectName(u"collocatesTab"_qs);
    startButton()->setObjectName(u"startCollocates"_qs);
    startButton()->setToolTip(tr("Finds the collocates of the node."));
    stopButton()->setObjectName(u"stopCollocates"_qs);
    statusLabel()->setObjectName(u"collocatesStatus"_qs);
    view()->setObjectName(u"collocatesTable"_qs);

    QLineEdit *node = createQueryField(u"collocatesNode"_qs, tr("A word"));
    node->setAccessibleName(tr("Node"));
    node->setToolTip(tr("The word whose company is counted; the query of every tool."));
    m_left = new QSpinBox(this);
    m_left->setObjectName(u"spanLeft"_qs);
    m_left->setAccessibleName(tr("Words to the left"));
    m_right = new QSpinBox(this);
    m_right->setObjectName(u"spanRight"_qs);
    m_right->setAccessibleName(tr("Words to the right"));
    for (QSpinBox *box : {m_left, m_right}) {
        box->setRange(0, CollocateRequest::kMaxSpan);
        box->setValue(5);
        box->setKeyboardTracking(false);
    }
    m_measure = new QComboBox(this);
    m_measure->setObjectName(u"collocateMeasure"_qs);
    m_measure->setAccessibleName(tr("Order by"));
    m_measure->addItem(tr("Log-likelihood"), int(CollocateMeasure::LogLikelihood));
    m_measure->addItem(tr("MI"), int(CollocateMeasure::MI));
    m_measure->addItem(tr("MI3"), int(CollocateMeasure::MI3));
    m_measure->addItem(tr("T-score"), int(CollocateMeasure::TScore));
    m_measure->addItem(tr("logDice"), int(CollocateMeasure::LogDice));
    m_measure->addItem(tr("Frequency (co-occurrences)"), int(CollocateMeasure::Frequency));
    m_minCooccurrence = countBox(this, u"minCooccurrence"_qs, 2);
    m_minCooccurrence->setAccessibleName(tr("Least co-occurrences"));
    m_minFrequency = countBox(this, u"minFrequency"_qs, 1);
    m_minFrequency->setAccessibleName(tr("Least frequency"));

    auto *nodeLabel = new QLabel(tr("&Node:"), this);
    nodeLabel->setBuddy(node);
    auto *spanLabel = new QLabel(tr("S&pan:"), this);
    spanLabel->setBuddy(m_left);
    auto *measureLabel = new QLabel(tr("&Order by:"), this);
    measureLabel->setBuddy(m_measure);
    auto *leastLabel = new QLabel(tr("At &least:"), this);
    leastLabel->setBuddy(m_minCooccurrence);
    // The node on a row of its own, as wide as the window allows: the settings fill the next.
    auto *nodeRow = new QHBoxLayout;
    nodeRow->addWidget(nodeLabel);
    nodeRow->addWidget(node, 1);
    nodeRow->addWidget(startButton());
    nodeRow->addWidget(stopButton());
    auto *settings = new QHBoxLayout;
    settings->addWidget(spanLabel);
    settings->addWidget(m_left);
    settings->addWidget(new QLabel(tr("left"), this));
    settings->addWidget(m_right);
    settings->addWidget(new QLabel(tr("right"), this));
    settings->addSpacing(12);
    settings->addWidget(measureLabel);
    settings->addWidget(m_measure);
    settings->addSpacing(12);
    settings->addWidget(leastLabel);
    settings->addWidget(m_minCooccurrence);
    settings->addWidget(new QLabel(tr("co-occurrences,"), this));
    settings->addWidget(m_minFrequency);
    settings->addWidget(new QLabel(tr("in the corpus"), this));
    settings->addStretch();
    auto *rows = new QVBoxLayout;
    rows->addLayout(nodeRow);
    rows->addLayout(settings);
    finishLayout(rows, columns());

    // Not both sides 0: a side at 0 keeps the other at 1 or more.
    const auto keepOneWord = [this] {
        m_right->setMinimum(m_left->value() == 0 ? 1 : 0);
        m_left->setMinimum(m_right->value() == 0 ? 1 : 0);
    };
    connect(m_left, &QSpinBox::valueChanged, this, keepOneWord);
    connect(m_right, &QSpinBox::valueChanged, this, keepOneWord);
    connect(m_left, &QSpinBox::valueChanged, this, &CollocatesTab::spanChanged);
    connect(m_right, &QSpinBox::valueChanged, this, &CollocatesTab::spanChanged);
    connect(m_measure, &QComboBox::currentIndexChanged, this, &CollocatesTab::select);
    connect(m_minCooccurrence, &QSpinBox::valueChanged, this, &CollocatesTab::select);
    connect(m_minFrequency, &QSpinBox::valueChanged, this, &CollocatesTab::select);
    if (m_workbench.options().rules.phraseLength > 1) {
        startButton()->setEnabled(false);
        node->setEnabled(false);
        setStatus(tr("Collocates are words: a count of phrases (Phrases of %1 words) has none. Count single words "
                     "to find them.").arg(m_workbench.options().rules.phraseLength));
    } else {
        setStatus(tr("Type a word as the node and press Enter: the words around its hits are counted here."));
    }
}

CollocateMeasure CollocatesTab::measure() const
{
    return CollocateMeasure(m_measure->currentData().toInt());
}

void CollocatesTab::shown()
{
    // The query searched for since the tab was last in front.
    if (!m_workbench.hasQuery() || isRunning() || !startButton()->isEnabled())
        return;
    if (m_considered && sameQueryWords(*m_considered, m_workbench.query()))
        return;
    start();
}

void CollocatesTab::start()
{
    if (!startButton()->isEnabled() || !takeQueryField())
        return;
    if (!m_workbench.hasQuery()) {
        setStatus(tr("Type a word as the node first: the words around its hits are counted here."));
        emit tableShown();
        return;
    }
    m_considered = m_workbench.query();
    const CorpusQuery node = *m_workbench.parsedQuery();
    if (QString problem = nodeProblem(node); !problem.isEmpty()) {
        stop();
        clearTable();
        m_raw.reset();
        m_ranQuery.reset();
        problem[0] = problem.at(0).toUpper(); // a sentence of its own
        setStatus(problem);
        emit tableShown();
        return;
    }
    scan(m_workbench.query(), node);
}

void CollocatesTab::spanChanged()
{
    // A new span needs the corpus read again, for the node of the table shown.
    if (m_ranQuery && m_ranNode)
        scan(*m_ranQuery, *m_ranNode);
}

void CollocatesTab::scan(const WorkbenchQuery &query, const CorpusQuery &node)
{
    m_ranQuery = query;
    m_ranNode = node;
    m_ranLeft = m_left->value();
    m_ranRight = m_right->value();
    m_raw.reset();
    clearTable();
    setStatus(tr("Finding the collocates of \u201c%1\u201d...").arg(query.text.trimmed()));
    CollocateRequest request;
    request.files = m_workbench.files();
    request.finder = m_workbench.finder();
    request.node = node;
    request.left = m_ranLeft;
    request.right = m_ranRight;
    auto found = std::make_shared<CollocateResult>();
    run([request, found](const std::atomic<bool> &stop, Progress &progress) {
            *found = findCollocates(request, &stop, &progress);
        },
        [this, found, query, left = m_ranLeft, right = m_ranRight] {
            if (!found->complete)
                return;
            showResult(found, query, left, right);
        });
}

void CollocatesTab::showResult(std::shared_ptr<const CollocateResult> result, const WorkbenchQuery &node, int left, int right)
{
    m_raw = std::move(result);
    m_ranQuery = node;
    m_ranLeft = left;
    m_ranRight = right;
    select();
}

void CollocatesTab::select()
{
    if (!m_raw)
        return; // the settings apply to the next search
    const std::shared_ptr<const CollocateResult> raw = m_raw;
    const CollocateMeasure order = measure();
    const qint64 leastCooccurrence = m_minCooccurrence->value();
    const qint64 leastFrequency = m_minFrequency->value();
    auto table = std::make_shared<CorpusTable>(columns());
    const QString node = m_ranQuery ? m_ranQuery->text.trimmed() : QString();
    setStatus(tr("Ordering the collocates of \u201c%1\u201d...").arg(node));
    // Selecting and ranking a hundred thousand collocates takes longer than the window may wait.
    run([raw, order, leastCooccurrence, leastFrequency, table](const std::atomic<bool> &, Progress &) {
            const std::vector<CollocateRow> rows = selectCollocates(raw->rows, order, leastCooccurrence, leastFrequency);
            table->reserve(qsizetype(rows.size()));
            for (const CollocateRow &r : rows)
                table->addRow({r.word}, {double(r.cooccurrence), double(r.left), double(r.right), double(r.frequency),
                                         r.measures.mi, r.measures.mi3, r.measures.tScore, r.measures.logLikelihood,
                                         r.measures.logDice});
            table->rankTexts();
        },
        [this, raw, table, order, node] {
            showTable(table, columnOf(order));
            const QLocale locale;
            QString status = tr("%Ln collocate(s) of \u201c%1\u201d", nullptr, int(table->rowCount())).arg(node) + u"; "_qs
                    + tr("span %1 left, %2 right; %3 node occurrences in %4 corpus words")
                              .arg(m_ranLeft)
                              .arg(m_ranRight)
                              .arg(locale.toString(raw->nodeOccurrences), locale.toString(raw->corpusWords));
            if (!raw->failures.empty())
                status += u"; "_qs + tr("%Ln file(s) could not be read", nullptr, int(raw->failures.size()));
            setStatus(status + u'.');
            emit tableShown();
        });
}

void CollocatesTab::activateRow(qint32 row)
{
    const std::shared_ptr<const CorpusTable> &table = model()->table();
    if (!table || !m_ranQuery)
        return;
    WorkbenchQuery query = *m_ranQuery;
    query.companion = table->text(row, WordColumn);
    query.companionLeft = m_ranLeft;
    query.companionRight = m_ranRight;
    m_workbench.showConcordance(query);
    // Coming back is not a new query: the table stays as it is.
    m_considered = m_workbench.query();
}

} // namespace corvalen
