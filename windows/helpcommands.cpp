#include "windows/helpcommands.h"

#include "base/errorreport.h"
#include "base/prompter.h"
#include "filelist/folderscan.h"
#include "windows/filelistmodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("HelpCommands", text);
}

} // namespace

HelpCommands::HelpCommands(Prompter &prompter, FileListModel &fileList, const QString &programFolder)
    : m_prompter(prompter), m_fileList(fileList), m_folder(programFolder)
{
}

QString HelpCommands::mainPageAddress()
{
    return QStringLiteral("https://www.quillmark.example/");
}

void HelpCommands::help()
{
    m_prompter.message(tr("Please ") + QString::fromUtf16(kSupportAddress)
                               + tr(" if you have any questions."),
                       Prompter::applicationTitle());
}

void HelpCommands::loadSamples()
{
    const QString samples = joinPath(m_folder, u"Samples"_qs);
    QStringList paths;
    for (const QString &name : listFolderFiles(samples, u"*.*"_qs))
        paths << joinPath(samples, name);
    m_fileList.append(paths);
    if (m_prompter.askYesNo(tr("Would you like this software to open the folder where these "
                               "sample files are stored (so that you can view them before "
                               "working with them)?"),
                            Prompter::applicationTitle())) {
        m_prompter.openUrl(QUrl::fromLocalFile(samples + u'/'));
    }
}

void HelpCommands::watchDemoVideo()
{
    const QString videos = joinPath(m_folder, u"Video"_qs);
    // Plain files only: hidden ones are not what the user came for.
    QString first;
    for (const QString &name : listFolderFiles(videos, u"*.*"_qs)) {
        if (!name.startsWith(u'.')) {
            first = name;
            break;
        }
    }
    m_prompter.openUrl(QUrl::fromLocalFile(first.isEmpty() ? videos + u'/' : joinPath(videos, first)));
}

void HelpCommands::openFaq()
{
    m_prompter.openUrl(QUrl::fromLocalFile(joinPath(m_folder, u"FAQ.html"_qs)));
}

void HelpCommands::openMainPage()
{
    m_prompter.openUrl(QUrl(mainPageAddress()));
}

} // namespace corvalen
