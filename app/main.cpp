#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "Corvalen counts the words of documents.\n"
                           "Usage: corvalen count [OPTIONS] PATH...\n";
    return 0;
}
