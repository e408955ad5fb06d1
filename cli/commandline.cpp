#include "cli/commandline.h"

#include "base/filenames.h"
#include "base/plurals.h"
#include "cli/commands.h"
#include "cli/commandtools.h"
#include "corpus/corpusscan.h"

#include <QCoreApplication>

#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <system_error>

namespace corvalen {

namespace {

QString generalHelp()
{
    return tr("Usage: corvalen [PATH...]\n"
              "       corvalen count [OPTIONS] PATH...\n"
              "       corvalen context [OPTIONS] WORD PATH...\n"
              "       corvalen dispersion [OPTIONS] QUERY PATH...\n"
              "       corvalen collocates [OPTIONS] QUERY PATH...\n"
              "       corvalen clusters [OPTIONS] QUERY PATH...\n"
              "       corvalen keywords --reference PATH | --reference-list FILE [OPTIONS] PATH...\n"
              "\n"
              "Counts the words of documents and shows how often each distinct word occurs.\n"
              "\n"
              "  corvalen [PATH...]              open the windows, with the paths in the file list\n"
              "                                  (a file named like a command: ./count)\n"
              "  corvalen count [OPTIONS] PATH   count and write the results (corvalen count --help)\n"
              "  corvalen context WORD PATH      every occurrence of WORD in its context\n"
              "                                  (corvalen context --help)\n"
              "  corvalen dispersion QUERY PATH  where QUERY occurs in each file\n"
              "                                  (corvalen dispersion --help)\n"
              "  corvalen collocates QUERY PATH  the words that keep company with QUERY\n"
              "                                  (corvalen collocates --help)\n"
              "  corvalen clusters QUERY PATH    the recurring runs of words around QUERY\n"
              "                                  (corvalen clusters --help)\n"
              "  corvalen keywords PATH          the words key in PATH against a reference\n"
              "                                  (corvalen keywords --help)\n"
              "  -h, --help                      show this help\n"
              "  -v, --version                   show the version\n");
}

} // namespace

bool isCommandLine(int argc, char *argv[])
{
    if (argc < 2)
        return false;
    for (const char *word : {"count", "context", "dispersion", "collocates", "clusters", "keywords", "-h", "--help", "-help", "-v", "--version", "-version"}) {
        if (std::strcmp(argv[1], word) == 0)
            return true;
    }
    return false;
}

int runCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Corvalen"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVALEN_VERSION));
    installEnglishPlurals(); // "1 form", "2 forms"
    // The arguments exactly as given: Qt's decoding drops a leading U+FEFF and turns bytes that
    // are not UTF-8 (a file name of another system) into U+FFFD, after which no such file exists.
    QStringList arguments;
    for (int i = 2; i <= argc; ++i)
        arguments.append(decodeFileName(QByteArrayView(argv[i - 1], qsizetype(std::strlen(argv[i - 1])))));
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    const std::map<QString, int (*)(const QStringList &)> commands = {
            {u"count"_qs, runCount},           {u"context"_qs, runContext},   {u"dispersion"_qs, runDispersion},
            {u"collocates"_qs, runCollocates}, {u"clusters"_qs, runClusters}, {u"keywords"_qs, runKeywords}};
    if (const auto found = commands.find(command); found != commands.end()) {
        // The counts name a file that ran out of memory themselves; the corpus commands end here.
        try {
            return found->second(arguments);
        } catch (const CorpusOutOfMemory &e) {
            writeErr(u"corvalen "_qs + command + u": "_qs + e.message() + u'\n');
        } catch (const std::bad_alloc &) {
            writeErr(u"corvalen "_qs + command + u": "_qs + tr("Out of memory.") + u'\n');
        } catch (const std::system_error &e) {
            // What the system refused (a thread, a lock), in its own words.
            writeErr(u"corvalen "_qs + command + u": "_qs + QString::fromStdString(e.code().message()) + u".\n"_qs);
        } catch (const std::exception &e) {
            writeErr(u"corvalen "_qs + command + u": "_qs + QString::fromLocal8Bit(e.what()) + u'\n');
        }
        return Failed;
    }
    if (command == u"-v" || command.endsWith(u"version")) {
        writeOut(versionText());
        return Success;
    }
    writeOut(generalHelp());
    return Success;
}

} // namespace corvalen
