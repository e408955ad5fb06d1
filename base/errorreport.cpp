#include "base/errorreport.h"

namespace corvalen {

QString errorReportText(const QString &description, const QString &locationTag, int line)
{
    return description % u"\r\n" % locationTag % u"at line " % QString::number(line) % u"\r\r"
            % u"Please email screenshot of this message to " % QStringView(kSupportAddress);
}

void ErrorReporter::reportError(const QString &description, const QString &locationTag, int line)
{
    show(errorReportText(description, locationTag, line), description, locationTag, line);
}

} // namespace corvalen
