#include "base/figures.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace corvalen {

namespace {

// Written by std::to_chars: exact as printf, without a locale, and a hundred thousand rows of six
// measures each do not wait on string formatting.
QString plainFigure(double value, std::chars_format format, int decimals)
{
    char text[400]; // the longest double in fixed notation with a few decimals
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, format, decimals);
    if (error != std::errc())
        return QString::number(value, format == std::chars_format::fixed ? 'f' : 'e', decimals);
    const char *begin = text;
    // "-0.000" or "-0.00e+00": no sign for nothing. Only the digits before an exponent count.
    const char *digitsEnd = std::find(begin, static_cast<const char *>(end), 'e');
    if (*begin == '-' && std::all_of(begin + 1, digitsEnd, [](char c) { return c == '0' || c == '.'; }))
        ++begin;
    return QString::fromLatin1(begin, qsizetype(end - begin));
}

// The value itself, or a plain zero when it is written as zero: the locale then writes no sign.
double unsignedZero(double value, std::chars_format format, int decimals)
{
    if (value == 0)
        return 0.0;
    if (!std::signbit(value) || format != std::chars_format::fixed || !std::isfinite(value))
        return value;
    return plainFigure(value, format, decimals).startsWith(u'-') ? value : 0.0;
}

} // namespace

QString fixedFigure(double value, int decimals)
{
    return plainFigure(value, std::chars_format::fixed, decimals);
}

QString fixedFigure(const QLocale &locale, double value, int decimals)
{
    return locale.toString(unsignedZero(value, std::chars_format::fixed, decimals), 'f', decimals);
}

QString scientificFigure(double value, int decimals)
{
    return plainFigure(value, std::chars_format::scientific, decimals);
}

QString scientificFigure(const QLocale &locale, double value, int decimals)
{
    return locale.toString(unsignedZero(value, std::chars_format::scientific, decimals), 'e', decimals);
}

QString probabilityFigure(double p, int decimals)
{
    return p < kLeastProbability ? u"0"_qs : scientificFigure(p, decimals);
}

QString probabilityFigure(const QLocale &locale, double p, int decimals)
{
    return p < kLeastProbability ? QCoreApplication::translate("corvalen::Figures", "< 1e-300")
                                 : scientificFigure(locale, p, decimals);
}

} // namespace corvalen
