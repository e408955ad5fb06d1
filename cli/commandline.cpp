#include "cli/commandline.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstring>

namespace corvalen {

bool isCommandLine(int argc, char *argv[])
{
    return argc > 1 && std::strcmp(argv[1], "count") == 0;
}

int runCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream(stderr) << "Usage: corvalen count [OPTIONS] PATH...\n";
    return 2;
}

} // namespace corvalen
