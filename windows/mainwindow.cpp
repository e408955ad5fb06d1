#include "windows/mainwindow.h"

#include "base/designernames.h"
#include "base/prompter.h"
#include "filelist/folderscan.h"
#include "filelist/scanqueue.h"
#include "filelist/settingsstore.h"
#include "windows/appearance.h"
#include "windows/commandbars.h"
#include "windows/filelistmodel.h"
#include "windows/resultswindow.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMimeData>
#include <QToolBar>
#include <QUrl>

namespace corvalen {

namespace {

// Design geometry in twips.
constexpr int fileColumnTwips = 5970;
constexpr int pageLeftTwips = 240; // ListView1 and Frame1, from the tab control's corner
constexpr int pageTopTwips = 480;
// Option2, Option1, Check1 and Check3, from the top of Frame1.
constexpr int frameControlTopsTwips[] = {300, 650, 1000, 1350};

QFont calibri(double points, bool bold)
{
    QFont f(QStringLiteral("Calibri"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

/// The local files among dropped data, in native separators; empty when it offers none.
QStringList droppedFiles(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            paths << QDir::toNativeSeparators(url.toLocalFile());
    }
    return paths;
}

} // namespace

MainWindow::MainWindow(Prompter &prompter, Hooks hooks, const QString &skinFolder,
                       QWidget *parent)
    : QWidget(parent),
      m_ui(std::make_unique<Ui::MainWindow>()),
      m_prompter(prompter),
      m_hooks(std::move(hooks)),
      m_settings(std::make_unique<SettingsStore>())
{
    initResources();
    m_ui->setupUi(this);
    // The form marks its separators with the caption "-", which a style would draw beside the line.
    for (QAction *separator : {m_ui->m4, m_ui->m7, m_ui->m12, m_ui->m20}) {
        separator->setSeparator(true);
        separator->setText(QString());
    }

    m_fileList = new FileListModel(this);
    m_ui->ListView1->setModel(m_fileList);
    m_ui->ListView1->header()->setStretchLastSection(false);
    m_ui->ListView1->header()->setSectionsMovable(false);
    m_ui->ListView1->header()->setSectionsClickable(false);
    m_ui->ListView1->installEventFilter(this);
    // Screen readers do not read tooltips: the list says what it is and how it is used.
    m_ui->ListView1->setAccessibleName(tr("Word Files"));
    m_ui->ListView1->setAccessibleDescription(m_ui->ListView1->toolTip());
    m_ui->ListView1->viewport()->installEventFilter(this);

    m_scans = new ScanQueue(this);
    connect(m_scans, &ScanQueue::pathsReady, this,
            [this](const QStringList &paths) { m_fileList->append(paths); });
    connect(m_scans, &ScanQueue::busyChanged, this, [this](bool busy) {
        if (busy)
            setCursor(Qt::WaitCursor);
        else
            unsetCursor();
    });

    setUpFonts();
    setUpDesignColours();
    placeFrameControls();

    // Start-up
    m_skinned = applySkin(this, skinFolder);
    centerForm(this);
    setWindowTitle(Prompter::applicationTitle());
    setWindowIcon(QIcon(applicationIconPath()));
    m_ui->ListView1->setColumnWidth(0, twipsToPixels(fileColumnTwips));
    restoreCountOptions();
    connectControls();
    createStaticBar();
    selectTab(m_settings->readTabIndex());
    if (m_hooks.checkWordInstalled)
        m_hooks.checkWordInstalled();
}

MainWindow::~MainWindow()
{
    m_scans->cancelAll();
}

QTreeView *MainWindow::listView() const
{
    return m_ui->ListView1;
}

QProgressBar *MainWindow::progressBar() const
{
    return m_ui->ProgressBar1;
}

QTabWidget *MainWindow::tabControl() const
{
    return m_ui->TabControl1;
}

void MainWindow::setUpFonts()
{
    m_ui->ProgressBar1->setFont(calibri(11.25, true));
    m_ui->TabControl1->setFont(calibri(11.25, false));
    m_ui->ListView1->setFont(calibri(11.25, true));
    for (QWidget *w : std::initializer_list<QWidget *>{m_ui->Frame1, m_ui->Option2, m_ui->Option1,
                                                      m_ui->Check1, m_ui->Check3})
        w->setFont(calibri(11.25, true));
}

void MainWindow::setUpDesignColours()
{
    drawFrameWithoutWash(m_ui->Frame1, twipsToPixels(frameControlTopsTwips[0]));
    setBackground(this, Qt::white);
    for (QWidget *w : std::initializer_list<QWidget *>{m_ui->Frame1, m_ui->Option2, m_ui->Option1,
                                                      m_ui->Check1, m_ui->Check3})
        setBackground(w, Qt::white);
}

void MainWindow::connectControls()
{
    connect(m_ui->Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            applyPerFileMode();
    });
    connect(m_ui->Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            applyCombinedMode();
    });
    connect(m_ui->Check1, &QCheckBox::toggled, this, &MainWindow::onCheck1Changed);
    connect(m_ui->Check3, &QCheckBox::toggled, this, &MainWindow::onCheck3Changed);
    connect(m_ui->TabControl1, &QTabWidget::currentChanged, this,
            [this](int index) { m_settings->writeTabIndex(index); });

    connect(m_ui->m2, &QAction::triggered, this, &MainWindow::addFiles);
    connect(m_ui->m3, &QAction::triggered, this, &MainWindow::addFolder);
    connect(m_ui->m5, &QAction::triggered, this, &MainWindow::clearSelectedFiles);
    connect(m_ui->m6, &QAction::triggered, this, &MainWindow::clearList);
    connect(m_ui->m8, &QAction::triggered, this, &MainWindow::endProgram);
    connect(m_ui->m10, &QAction::triggered, this, [this] { selectTab(0); });
    connect(m_ui->m11, &QAction::triggered, this, [this] { selectTab(1); });
    connect(m_ui->m13, &QAction::triggered, this, &MainWindow::wordRules);
    connect(m_ui->m17, &QAction::triggered, this, &MainWindow::help);
    const auto hook = [this](std::function<void()> Hooks::*member) {
        return [this, member] {
            if (m_hooks.*member)
                (m_hooks.*member)();
        };
    };
    connect(m_ui->m18, &QAction::triggered, this, hook(&Hooks::loadSamples));
    connect(m_ui->m19, &QAction::triggered, this, hook(&Hooks::watchDemoVideo));
    connect(m_ui->m21, &QAction::triggered, this, hook(&Hooks::openFaq));
    connect(m_ui->m22, &QAction::triggered, this, hook(&Hooks::openMainPage));
    connect(m_ui->m15, &QAction::triggered, this, hook(&Hooks::corpusWorkbench));
}

// Layout

void MainWindow::fitCommandBars()
{
    m_ui->CommandBars->setGeometry(0, 0, width(), m_ui->CommandBars->sizeHint().height());
}

void MainWindow::placeOnPage(QWidget *widget, int leftTwips, int topTwips)
{
    // The design places the page's controls from the tab control's corner; Qt's pages start
    // below the tabs, so take the page's own offset off.
    const QPoint offset = widget->parentWidget()->mapTo(m_ui->TabControl1, QPoint(0, 0));
    widget->move(qMax(0, twipsToPixels(leftTwips) - offset.x()),
                 qMax(0, twipsToPixels(topTwips) - offset.y()));
}

void MainWindow::placeFrameControls()
{
    // The design measures from the frame's top edge; the frame's style draws its top line above
    // the first control (setUpDesignColours), so the controls keep their places.
    QWidget *const controls[] = {m_ui->Option2, m_ui->Option1, m_ui->Check1, m_ui->Check3};
    for (size_t i = 0; i < std::size(controls); ++i)
        controls[i]->move(controls[i]->x(), twipsToPixels(frameControlTopsTwips[i]));
}

void MainWindow::layoutControls(const QSize &client)
{
    const int scaleWidth = pixelsToTwips(client.width());
    const int scaleHeight = pixelsToTwips(client.height());
    QTabWidget *tab = m_ui->TabControl1;
    QTreeView *list = m_ui->ListView1;
    QProgressBar *bar = m_ui->ProgressBar1;

    // Each rule uses the sizes the previous ones left; a rule whose result would be negative
    // (a very small window) is skipped and the rest still apply.
    if (const int w = scaleWidth - 240; w >= 0)
        tab->resize(twipsToPixels(w), tab->height());
    if (const int h = scaleHeight - 2260; h >= 0)
        tab->resize(tab->width(), twipsToPixels(h));
    if (const int w = pixelsToTwips(tab->width()) - 480; w >= 0)
        list->resize(twipsToPixels(w), list->height());
    if (const int h = pixelsToTwips(tab->height()) - 630; h >= 0)
        list->resize(list->width(), twipsToPixels(h));
    if (const int w = scaleWidth - 720; w >= 0)
        m_ui->Frame1->resize(twipsToPixels(w), m_ui->Frame1->height());
    bar->move(bar->x(), twipsToPixels(pixelsToTwips(tab->height()) + 1750));
    if (const int w = scaleWidth - 240; w >= 0)
        bar->resize(twipsToPixels(w), bar->height());
    if (const int w = pixelsToTwips(list->width()) - 500; w >= 0)
        list->setColumnWidth(0, twipsToPixels(w));

    placeOnPage(list, pageLeftTwips, pageTopTwips);
    placeOnPage(m_ui->Frame1, pageLeftTwips, pageTopTwips);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitCommandBars();
    if (!isMinimized())
        layoutControls(size());
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The tab pages have their geometry now.
    placeOnPage(m_ui->ListView1, pageLeftTwips, pageTopTwips);
    placeOnPage(m_ui->Frame1, pageLeftTwips, pageTopTwips);
    placeFrameControls();
}

void MainWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        layoutControls(size());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    endProgram();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    QTreeView *list = m_ui->ListView1;
    if (watched == list && event->type() == QEvent::KeyPress) {
        // The Delete key with any modifiers.
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
            removeCurrentFile();
            return true;
        }
        return false;
    }
    if (watched != list->viewport())
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        removeCurrentFile();
        return true;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (droppedFiles(drag->mimeData()).isEmpty()) {
            drag->setDropAction(Qt::IgnoreAction);
            drag->ignore();
        } else {
            drag->acceptProposedAction();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = droppedFiles(drop->mimeData());
        if (paths.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        addDroppedPaths(paths);
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace corvalen
