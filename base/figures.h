#pragma once

#include <QString>

class QLocale;

namespace corvalen {

/// The figures of measures, as files write them (plain digits, the C locale) and as the window
/// shows them (the user's locale). Every figure the program writes goes through these, so that
/// a value that rounds to nothing has no sign: "-0.0000" reads as a negative measure.

/// A figure with a fixed number of decimals ("0.2500"), as printf's %.*f writes it.
QString fixedFigure(double value, int decimals);
QString fixedFigure(const QLocale &locale, double value, int decimals);
/// A figure in scientific notation with that many decimals ("1.23457e-05"), as printf's %.*e.
QString scientificFigure(double value, int decimals);
QString scientificFigure(const QLocale &locale, double value, int decimals);

/// Probabilities below this are not told apart: the tails of the distributions go on into
/// denormal numbers (2.5e-322), which hold a few bits at most and which some parsers refuse.
inline constexpr double kLeastProbability = 1e-300;
/// A p value as files write it: scientific notation, and 0 below kLeastProbability.
QString probabilityFigure(double p, int decimals);
/// A p value as the window shows it: scientific notation, and "< 1e-300" below kLeastProbability.
QString probabilityFigure(const QLocale &locale, double p, int decimals);

} // namespace corvalen
