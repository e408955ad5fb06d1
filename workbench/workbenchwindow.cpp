#include "workbench/workbenchwindow.h"

#include "base/prompter.h"
#include "filelist/settingsstore.h"
#include "windows/commandbars.h"
#include "windows/wordrulesdialog.h"
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
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

    m_corpusLine = new QLabel(this);
    m_corpusLine->setObjectName(u"corpusLine"_qs);
    m_corpusLine->setTextFormat(Qt::PlainText);
    m_corpusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_corpusLine->setWordWrap(true);
    m_wordRules = new QPushButton(tr("Word Rules..."), this);
    m_wordRules->setObjectName(u"workbenchWordRules"_qs);
    m_wordRules->setToolTip(tr("How this workbench cuts the text into words and which words it counts"));
    connect(m_wordRules, &QPushButton::clicked, this, &WorkbenchWindow::editWordRules);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(u"workbenchTabs"_qs);
    m_tabs->setDocumentMode(true);

    auto *top = new QHBoxLayout;
    top->addWidget(m_corpusLine, 1);
    top->addWidget(m_wordRules);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_tabs, 1);

    auto *find = new QAction(tr("Find"), this);
    find->setObjectName(u"focusSearch"_qs);
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, &WorkbenchWindow::focusSearch);
    addAction(find);
    addCloseShortcut(this);

    build(std::move(files), std::move(options));
    resize(1100, 700);
}

void WorkbenchWindow::build(QStringList files, CountOptions options)
{
    m_workbench = new Workbench(std::move(files), std::move(options), *m_prompter, this);
    updateTitle();
    m_tabList = createTabs(*m_workbench, m_tabs);
    for (WorkbenchTab *tab : std::as_const(m_tabList))
        m_tabs->addTab(tab, tab->title());
    const auto describe = [this] { m_corpusLine->setText(m_workbench->corpusLine()); };
    connect(m_workbench, &Workbench::corpusChanged, this, describe);
    connect(m_workbench, &Workbench::wordListReady, this, describe);
    connect(m_workbench, &Workbench::tabRequested, this, &WorkbenchWindow::showTab);
    describe();
}

bool WorkbenchWindow::isBusy() const
{
    return std::any_of(m_tabList.begin(), m_tabList.end(), [](const WorkbenchTab *tab) { return tab->isBusy(); });
}

bool WorkbenchWindow::setOptions(CountOptions options)
{
    // A file being written waits for its tab: the tabs stay until it is done.
    if (isBusy())
        return false;
    const QStringList files = m_workbench->files();
    const WorkbenchQuery query = m_workbench->hasQuery() ? m_workbench->query() : WorkbenchQuery();
    const int current = m_tabs->currentIndex();
    m_tabs->clear();
    qDeleteAll(m_tabList);
    m_tabList.clear();
    delete m_workbench;
    m_workbench = nullptr;
    build(files, std::move(options));
    m_tabs->setCurrentIndex(current);
    m_workbench->countWordList();
    // The question asked before is asked again of the words as the new rules count them.
    if (!query.text.isEmpty())
        m_workbench->search(query);
    emit optionsChanged();
    return true;
}

void WorkbenchWindow::editWordRules()
{
    if (isBusy())
        return;
    auto store = std::make_shared<SettingsStore>(RulesScope::Workbench);
    auto *dialog = new WordRulesDialog(*store, *m_prompter, this);
    dialog->setObjectName(u"workbenchWordRulesDialog"_qs);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Each change is stored at once; the workbench counts again with them when the dialog closes.
    connect(dialog, &QDialog::finished, this, [this, store] {
        CountOptions options = m_workbench->options();
        options.rules = wordRulesFromStored(store->readWordRules());
        options.ignoreCase = store->readWorkbenchIgnoresCase();
        if (options.rules == m_workbench->options().rules && options.ignoreCase == m_workbench->options().ignoreCase)
            return;
        QString error;
        options.finder = WordFinder::create(options.rules, options.ignoreCase, &error);
        if (!options.finder) {
            m_prompter->message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
            return;
        }
        setOptions(std::move(options));
    });
    dialog->open();
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
    if (isBusy()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace corvalen
