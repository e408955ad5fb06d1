#include "workbench/wordlisttab.h"

#include "workbench/wordlistpanel.h"
#include "workbench/workbench.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace corvalen {

WordListTab::WordListTab(Workbench &workbench, QWidget *parent) : WorkbenchTab(workbench, parent)
{
    setObjectName(u"wordListTab"_qs);
    auto *waitingPage = new QWidget(this);
    m_waiting = new QLabel(tr("Counting the words of the corpus..."), waitingPage);
    m_waiting->setObjectName(u"wordListWaiting"_qs);
    m_waiting->setAlignment(Qt::AlignCenter);
    m_waiting->setWordWrap(true);
    m_progress = new QProgressBar(waitingPage);
    m_progress->setObjectName(u"wordListProgress"_qs);
    m_progress->setRange(0, 100);
    m_progress->setAccessibleName(tr("Counting"));
    auto *waitingLayout = new QVBoxLayout(waitingPage);
    waitingLayout->addStretch();
    waitingLayout->addWidget(m_waiting);
    waitingLayout->addWidget(m_progress);
    waitingLayout->addStretch();
    m_failures = new QLabel(this);
    m_failures->setObjectName(u"wordListFailures"_qs);
    m_failures->setTextFormat(Qt::PlainText);
    m_failures->setWordWrap(true);
    m_failures->hide();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_failures);
    m_pages = new QStackedLayout;
    layout->addLayout(m_pages, 1);
    m_pages->addWidget(waitingPage);

    connect(&m_workbench, &Workbench::countProgress, m_progress, &QProgressBar::setValue);
    connect(&m_workbench, &Workbench::wordListReady, this, &WordListTab::showWordList);
    if (m_workbench.wordList())
        showWordList();
}

void WordListTab::showWordList()
{
    if (m_panel || !m_workbench.wordList())
        return;
    // Files the count could not read add no words: the list says so above its rows (the
    // concordance names them again, each on its line).
    const QStringList failures = m_workbench.countFailures();
    if (!failures.isEmpty()) {
        m_failures->setText(tr("Not counted: %1").arg(failures.join(u" ")));
        m_failures->show();
    }
    m_panel = new WordListPanel(m_workbench.wordList(), m_workbench.prompter(), this);
    m_pages->addWidget(m_panel);
    m_pages->setCurrentWidget(m_panel);
    connect(m_panel, &WordListPanel::contextRequested, &m_workbench, &Workbench::showInConcordance);
    connect(m_panel, &WordListPanel::ready, this, &WordListTab::ready);
    // The ratios of the statistics and the words' spread over the files need the files read
    // again, in their words' order: after the rows are shown.
    m_panel->measureCorpus(m_workbench.files(), m_workbench.finder());
}

QWidget *WordListTab::searchField() const
{
    return m_panel ? m_panel->findField() : nullptr;
}

bool WordListTab::isBusy() const
{
    return m_panel && m_panel->isBusy();
}

} // namespace corvalen
