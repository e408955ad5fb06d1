#include "windows/resultswindow.h"

#include "base/designernames.h"
#include "base/prompter.h"
#include "results/resultlayouts.h"
#include "windows/appearance.h"
#include "windows/commandbars.h"
#include "windows/resultsmodel.h"
#include "ui_resultswindow.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QToolBar>

#include <algorithm>

namespace corvalen {

namespace {

// Client area 10200 x 5580 twips.
constexpr int clientWidthTwips = 10200;
constexpr int clientHeightTwips = 5580;

QFont calibri(double points, bool bold)
{
    QFont f(QStringLiteral("Calibri"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

} // namespace

ResultsWindow::ResultsWindow(QWidget *mainWindow, QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::ResultsWindow>()), m_mainWindow(mainWindow)
{
    initResources();
    m_ui->setupUi(this);
    // A fixed single border with a minimize box and no maximize box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(clientWidthTwips), twipsToPixels(clientHeightTwips));

    m_ui->ListView1->setFont(calibri(11.25, true));
    m_ui->Label1->setFont(calibri(11.25, true));
    m_ui->ListView1->header()->setStretchLastSection(false);
    m_ui->ListView1->header()->setSectionsMovable(false);
    m_ui->ListView1->header()->setSectionsClickable(false);

    m_model = new ResultsModel(this);
    m_ui->ListView1->setModel(m_model);

    // Load
    setSystemColors(this);
    centerForm(this);
    setWindowTitle(Prompter::applicationTitle());
    setWindowIcon(QIcon(applicationIconPath()));
    createStaticBar();
    setBackground(m_ui->Label1, Qt::white);
    createContextMenu();
}

ResultsWindow::~ResultsWindow() = default;

QTreeView *ResultsWindow::listView() const
{
    return m_ui->ListView1;
}

QLabel *ResultsWindow::label() const
{
    return m_ui->Label1;
}

void ResultsWindow::createStaticBar()
{
    if (m_toolBar)
        return;
    m_toolBar = createStandardBar(m_ui->CommandBars,
                                  {{command::Back, tr("Back"), 100},
                                   {command::SaveResults, tr("Save Results"), 100},
                                   {command::SaveExcel, tr("Save Results As Excel File"), 180},
                                   {command::SaveClipboard, tr("Save Results To Clipboard"), 180}},
                                  QStringLiteral(":/icons/results"),
                                  [this](int id) { commandBarsExecute(id); });
    // No menu bar in this window; the toolbar spans the window.
    m_ui->CommandBars->setGeometry(0, 0, width(), m_ui->CommandBars->sizeHint().height());
}

void ResultsWindow::createContextMenu()
{
    m_contextMenu = new QMenu(this);
    m_contextMenu->setObjectName(u"resultsContextMenu"_qs);
    QAction *copy = m_contextMenu->addAction(tr("Copy"), this, &ResultsWindow::copySelectedRows);
    copy->setObjectName(u"actionCopyRows"_qs);
    copy->setShortcut(QKeySequence::Copy);
    QAction *explore = m_contextMenu->addAction(tr("Explore Word List..."), this, &ResultsWindow::exploreWordList);
    explore->setObjectName(u"actionExploreWordList"_qs);
    explore->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    // The shortcuts work while the window is active, the menu closed.
    for (QAction *action : {copy, explore}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    QTreeView *list = m_ui->ListView1;
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint &pos) {
        m_contextMenu->popup(list->viewport()->mapToGlobal(pos));
    });
}

void ResultsWindow::copySelectedRows()
{
    // By ranges, not one index per row: a selection may hold a million rows.
    std::vector<qint32> rows;
    for (const QItemSelectionRange &range : m_ui->ListView1->selectionModel()->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.push_back(qint32(r));
    }
    if (rows.empty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QGuiApplication::clipboard()->setText(clipboardText(TableRowSelection(m_model->table(), std::move(rows))));
}

void ResultsWindow::exploreWordList()
{
    if (m_explore)
        m_explore();
}

void ResultsWindow::commandBarsExecute(int id)
{
    switch (id) {
    case command::SaveResults:
        saveResults();
        break;
    case command::SaveExcel:
        saveExcel();
        break;
    case command::SaveClipboard:
        saveClipboard();
        break;
    case command::Back:
        back();
        break;
    default:
        break;
    }
}

void ResultsWindow::saveExcel()
{
    if (m_exports.saveExcel)
        m_exports.saveExcel();
}

void ResultsWindow::saveClipboard()
{
    if (m_exports.saveClipboard)
        m_exports.saveClipboard();
}

void ResultsWindow::saveResults()
{
    if (m_exports.saveResults)
        m_exports.saveResults();
}

void ResultsWindow::back()
{
    m_model->clearRows();
    if (m_mainWindow)
        m_mainWindow->show();
    hide();
}

void ResultsWindow::setColumns(const QList<ResultColumn> &columns)
{
    m_model->setColumns(columns);
    for (int i = 0; i < columns.size(); ++i)
        m_ui->ListView1->setColumnWidth(i, twipsToPixels(columns.at(i).widthTwips));
}

void ResultsWindow::setWordCount(qint64 total)
{
    m_ui->Label1->setText(tr(" Word Count: ") + QString::number(total));
}

void ResultsWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit closed();
}

} // namespace corvalen
