#pragma once

#include <QString>

namespace corvalen {

class FileListModel;
class Prompter;

/// The Help menu's commands: support message, samples, demonstration video and web pages.
/// Data files are looked up in programFolder (the folder of the executable).
class HelpCommands
{
public:
    HelpCommands(Prompter &prompter, FileListModel &fileList, const QString &programFolder);

    void help();
    void loadSamples();
    void watchDemoVideo();
    void openFaq();
    void openMainPage();

    static QString mainPageAddress();

private:
    Prompter &m_prompter;
    FileListModel &m_fileList;
    QString m_folder;
};

} // namespace corvalen
