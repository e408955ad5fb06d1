#include "workbench/workbenchwindow.h"

#include "base/prompter.h"
#include "windows/commandbars.h"
#include "workbench/clusterstab.h"
#include "workbench/collocatestab.h"
#include "workbench/concordancetab.h"
#include "workbench/fileviewtab.h"
#include "workbench/keywordstab.h"
#include "workbench/plottab.h"
#include "workbench/wordlisttab.h"
#include "workbench/workbench.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace corvalen {

namespace {

// The tools, in the order of their tabs: a new tool is its class, added here.
QList<WorkbenchTab *> createTabs(Workbench &workbench, QWidget *parent)
{
    return {new WordListTab(workbench, parent),    new ConcordanceTab(workbench, parent),
            new PlotTab(workbench, parent),        new FileViewTab(workbench, parent),
            new CollocatesTab(workbench, parent),  new ClustersTab(workbench, parent),
            new KeywordsTab(workbench, parent)};
}

} // namespace

WorkbenchWindow::WorkbenchWindow(QStringList files, CountOptions options, Prompter &prompter, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"workbenchWindow"_qs);
    setWindowFlag(Qt::Window);
    setWindowTitle(tr("Corpus Workbench - %1").arg(Prompter::applicationTitle()));
    setWindowIcon(QIcon(applicationIconPath()));
    m_workbench = new Workbench(std::move(files), std::move(options), prompter, this);

    m_corpusLine = new QLabel(this);
    m_corpusLine->setObjectName(u"corpusLine"_qs);
    m_corpusLine->setTextFormat(Qt::PlainText);
    m_corpusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(u"workbenchTabs"_qs);
    m_tabs->setDocumentMode(true);
    m_tabList = createTabs(*m_workbench, m_tabs);
    for (WorkbenchTab *tab : std::as_const(m_tabList))
        m_tabs->addTab(tab, tab->title());

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_corpusLine);
    layout->addWidget(m_tabs, 1);

    auto *find = new QAction(tr("Find"), this);
    find->setObjectName(u"focusSearch"_qs);
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, &WorkbenchWindow::focusSearch);
    addAction(find);
    addCloseShortcut(this);

    const auto describe = [this] { m_corpusLine->setText(m_workbench->corpusLine()); };
    connect(m_workbench, &Workbench::corpusChanged, this, describe);
    connect(m_workbench, &Workbench::wordListReady, this, describe);
    connect(m_workbench, &Workbench::tabRequested, this, &WorkbenchWindow::showTab);
    describe();
    resize(1100, 700);
}

WorkbenchWindow::~WorkbenchWindow() = default;

void WorkbenchWindow::showTab(QWidget *tab)
{
    m_tabs->setCurrentWidget(tab);
}

void WorkbenchWindow::focusSearch()
{
    auto *current = qobject_cast<WorkbenchTab *>(m_tabs->currentWidget());
    QWidget *field = current ? current->searchField() : nullptr;
    if (!field) {
        ConcordanceTab *concordance = tab<ConcordanceTab>();
        showTab(concordance);
        field = concordance->searchField();
    }
    field->setFocus(Qt::ShortcutFocusReason);
    if (auto *edit = qobject_cast<QLineEdit *>(field))
        edit->selectAll();
}

void WorkbenchWindow::closeEvent(QCloseEvent *event)
{
    // A file being written waits in a local event loop for its writer: the window must outlive it.
    for (WorkbenchTab *tab : std::as_const(m_tabList)) {
        if (tab->isBusy()) {
            event->ignore();
            return;
        }
    }
    QWidget::closeEvent(event);
}

} // namespace corvalen
