#pragma once

// The counting rules computed the slow, literal way: a word list of every word, a tally list
// whose entries repeat the word joined by a separator token, zero-padded ranking keys and a
// bubble sort. The engine must give exactly the same rows.

#include <QString>
#include <QStringList>

#include <functional>

namespace reference {

QStringList splitWords(const QString &text);
QString removeCharacters(const QString &s, const QString &set);
QString trimPunctuation(const QString &s);
QString cleanWord(const QString &raw, bool ignoreCase);
/// Every character lower-cased by its simple one-to-one mapping (U+0130 becomes "i").
QString lowerSimple(const QString &s);
QStringList tallyWords(const QStringList &words);
QString padCount(const QString &countAndWord);
QStringList rankTally(const QStringList &tally);
/// Returns the sorted list; passes counts the passes it made.
QStringList bubbleSort(QStringList keys, int *passes = nullptr);
QString unpadCount(const QString &key);

struct Row
{
    QString word;
    QString count;
};
/// The whole chain for one scope.
QList<Row> countRows(const QString &text, bool ignoreCase);

} // namespace reference
