#include "base/plurals.h"

#include <QCoreApplication>
#include <QPointer>

namespace corvalen {

QString EnglishPlurals::translate(const char *, const char *sourceText, const char *, int n) const
{
    if (n < 0 || !sourceText)
        return {};
    QString text = QString::fromUtf8(sourceText);
    if (!text.contains(u"(s)") && !text.contains(u"(es)"))
        return {};
    const bool one = n == 1;
    text.replace(u"(es)"_qs, one ? QString() : u"es"_qs);
    text.replace(u"(s)"_qs, one ? QString() : u"s"_qs);
    return text;
}

void installEnglishPlurals()
{
    static QPointer<EnglishPlurals> installed; // goes with the application
    if (installed || !QCoreApplication::instance())
        return;
    installed = new EnglishPlurals(QCoreApplication::instance());
    QCoreApplication::installTranslator(installed);
}

} // namespace corvalen
