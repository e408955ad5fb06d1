#include "windows/qtprompter.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

namespace corvalen {

namespace {

QMessageBox::Icon boxIcon(Prompter::Icon icon)
{
    switch (icon) {
    case Prompter::Icon::Information:
        return QMessageBox::Information;
    case Prompter::Icon::Warning:
        return QMessageBox::Warning;
    case Prompter::Icon::Critical:
        return QMessageBox::Critical;
    case Prompter::Icon::Question:
        return QMessageBox::Question;
    case Prompter::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

/// Message texts end lines with carriage returns alone, which Qt's labels do not break at.
QString displayText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// Lines of up to this many characters are never broken by the box.
constexpr qsizetype kWholeLineCharacters = 100;

// A message box narrows its text to half the screen and breaks longer lines, which splits an
// address or a path in two: the text gets the width of its longest line (of up to 100
// characters), as far as the screen allows.
void keepLinesWhole(QMessageBox &box)
{
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    int widest = 0;
    const QStringList lines = box.text().split(u'\n');
    for (const QString &line : lines)
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(line.left(kWholeLineCharacters)));
    if (const QScreen *screen = box.screen())
        widest = std::min(widest, screen->availableGeometry().width() * 3 / 4);
    label->setMinimumWidth(widest + 2 * label->margin() + 1);
}

} // namespace

void QtPrompter::message(const QString &text, const QString &title, Icon icon)
{
    QMessageBox box(boxIcon(icon), title, displayText(text), QMessageBox::Ok, m_parent);
    keepLinesWhole(box);
    box.exec();
}

bool QtPrompter::askYesNo(const QString &text, const QString &title, bool yesIsDefault)
{
    QMessageBox box(QMessageBox::NoIcon, title, displayText(text), QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
    keepLinesWhole(box);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtPrompter::inputText(const QString &prompt, const QString &title,
                                             const QString &proposal)
{
    bool ok = false;
    const QString answer =
            QInputDialog::getText(m_parent, title, displayText(prompt), QLineEdit::Normal, proposal, &ok);
    if (!ok)
        return std::nullopt;
    return answer;
}

QStringList QtPrompter::openFiles(const QString &title, const QStringList &filters)
{
    return QFileDialog::getOpenFileNames(m_parent, title, QString(), filters.join(u";;"));
}

QString QtPrompter::saveFile(const QString &title, const QStringList &filters)
{
    // Our own overwrite question follows, so the dialog must not ask too.
    return QFileDialog::getSaveFileName(m_parent, title, QString(), filters.join(u";;"), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QtPrompter::pickFolder(const QString &title)
{
    return QFileDialog::getExistingDirectory(m_parent, title);
}

bool QtPrompter::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

std::unique_ptr<Prompter> QtPrompter::forWindow(QObject *window)
{
    // The program's prompter puts its dialogs over the main window: closing one asked from another
    // window would bring the main window up over that window.
    auto prompter = std::make_unique<QtPrompter>();
    prompter->setParentWidget(qobject_cast<QWidget *>(window));
    return prompter;
}

} // namespace corvalen
