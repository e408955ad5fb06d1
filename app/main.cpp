#include "app/application.h"
#include "cli/commandline.h"

int main(int argc, char *argv[])
{
    if (corvalen::isCommandLine(argc, argv))
        return corvalen::runCommandLine(argc, argv);
    return corvalen::runApplication(argc, argv);
}
