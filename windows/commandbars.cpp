#include "windows/commandbars.h"

#include <QAction>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QIcon>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

static void initCorvalenResources()
{
    Q_INIT_RESOURCE(corvalen);
}

namespace corvalen {

void initResources()
{
    static const bool done = [] {
        initCorvalenResources();
        return true;
    }();
    Q_UNUSED(done);
}

QString applicationIconPath()
{
    return QStringLiteral(":/icons/corvalen.svg");
}

QToolBar *createStandardBar(QWidget *host, const QList<ToolButtonSpec> &buttons,
                            const QString &iconFolder, std::function<void(int)> execute)
{
    initResources();
    auto *bar = new QToolBar(QStringLiteral("Standard"), host);
    bar->setObjectName(QStringLiteral("Standard"));
    bar->setMovable(false);
    bar->setFloatable(false);

    for (const ToolButtonSpec &entry : buttons) {
        auto *action = new QAction(QIcon(iconFolder + u'/' + QString::number(entry.id) + u".svg"),
                                   entry.caption, bar);
        action->setObjectName(u"Command" + QString::number(entry.id));
        action->setProperty(commandIdProperty, entry.id);
        QObject::connect(action, &QAction::triggered, bar, [execute, id = entry.id] {
            if (execute)
                execute(id);
        });
        bar->addAction(action);
        if (QWidget *button = bar->widgetForAction(action))
            button->setFixedWidth(entry.width);
    }

    // Size first, then face, as the host's font is set.
    QFont font = host->font();
    font.setPointSize(11);
    font.setFamily(QStringLiteral("Calibri"));
    font.setBold(false);
    host->setFont(font);

    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(48, 48));
    if (auto *layout = qobject_cast<QBoxLayout *>(host->layout()))
        layout->addWidget(bar);
    bar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Qt's button for the commands that do not fit has no text: screen readers would announce a
    // nameless button.
    if (auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"))) {
        const QString name = QCoreApplication::translate("corvalen::CommandBars", "More commands");
        more->setAccessibleName(name);
        more->setToolTip(name);
    }
    return bar;
}

void addCloseShortcut(QWidget *window)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Close);
    const QKeySequence ctrlW(Qt::CTRL | Qt::Key_W);
    if (!keys.contains(ctrlW))
        keys.prepend(ctrlW);
    auto *close = new QAction(QCoreApplication::translate("corvalen::CommandBars", "Close"), window);
    close->setObjectName(QStringLiteral("closeWindow"));
    close->setShortcuts(keys);
    close->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(close, &QAction::triggered, window, &QWidget::close);
    window->addAction(close);
}

} // namespace corvalen
