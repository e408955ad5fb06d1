#include "base/prompter.h"

namespace corvalen {

QString Prompter::applicationTitle()
{
    return QStringLiteral("Corvalen");
}

} // namespace corvalen
