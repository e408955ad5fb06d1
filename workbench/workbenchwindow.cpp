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
#include <QScreen>
#include <QStyle>
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
    : QWidget(parent), m_prompter(prompter.forWindow(this))
{
    setObjectName(u"workbenchWindow"_qs);
    setWindowFlag(Qt::Window);
    setWindowIcon(QIcon(applicationIconPath()));
    m_workbench = new Workbench(std::move(files), std::move(options), *m_prompter, this);
    updateTitle();

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

void WorkbenchWindow::updateTitle()
{
    // Several workbenches are told apart in the task bar by what they show.
    QString name = m_workbench->corpusName();
    if (m_titleNumber > 1)
        name = (name.isEmpty() ? QString() : name + u' ') + u"(%1)"_qs.arg(m_titleNumber);
    const QString title = tr("Corpus Workbench - %1").arg(Prompter::applicationTitle());
    setWindowTitle(name.isEmpty() ? title : name + u" - "_qs + title);
}

void WorkbenchWindow::setTitleNumber(int number)
{
    m_titleNumber = std::max(1, number);
    updateTitle();
}

void WorkbenchWindow::placeAfter(const QWidget &other)
{
    // About a title bar's height: the other window's title stays in view.
    const int step = std::max(24, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    QPoint at = other.pos() + QPoint(step, step);
    if (const QScreen *screen = other.screen()) {
        // Past the screen's edge the steps start again in its corner, unless the other window is
        // there or does not fit either.
        const QRect area = screen->availableGeometry();
        if (!area.contains(QRect(at, frameGeometry().size())) && area.contains(other.frameGeometry())
            && other.pos() != area.topLeft())
            at = area.topLeft();
    }
    move(at);
}

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
