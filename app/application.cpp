#include "app/application.h"

#include <QApplication>
#include <QMessageBox>

namespace corvalen {

int runApplication(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMessageBox::information(nullptr, QStringLiteral("Corvalen"),
                             QStringLiteral("Corvalen counts the words of documents."));
    return 0;
}

} // namespace corvalen
