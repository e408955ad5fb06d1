#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace corvalen {

/// The ranks of texts in the Unicode root collation (ICU's root locale, the same on every machine
/// whatever its language), from 0: texts that collate equal share a rank. The corpus tools order
/// words, phrases and file names by it.
std::vector<quint32> collationRanks(const QStringList &texts);

/// Compares two texts in the Unicode root collation, ties by UTF-16 code units: < 0, 0 or > 0.
int compareCollated(QStringView a, QStringView b);

} // namespace corvalen
