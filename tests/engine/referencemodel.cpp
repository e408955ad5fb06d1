#include "referencemodel.h"

namespace reference {

namespace {
const QString kToken = QStringLiteral("My_Separatora12");

QString head(const QString &entry)
{
    const qsizetype i = entry.indexOf(kToken);
    return i < 0 ? entry : entry.left(i);
}

} // namespace

// Lower-cases character by character with the simple mapping.
QString lowerSimple(const QString &s)
{
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        char32_t c = s.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(s.at(i), s.at(i + 1));
            ++i;
        }
        c = c == 0x130 ? U'i' : QChar::toLower(c);
        out += QString::fromUcs4(&c, 1);
    }
    return out;
}

QStringList splitWords(const QString &text)
{
    QStringList words;
    if (text.isEmpty())
        return words;
    for (const QString &line : text.split(QChar(13))) {
        if (line.contains(QChar(32))) {
            for (const QString &piece : line.split(QChar(32)))
                if (!piece.isEmpty())
                    words.append(piece);
        } else if (!line.isEmpty()) {
            words.append(line);
        }
    }
    return words;
}

QString removeCharacters(const QString &s, const QString &set)
{
    QString out;
    for (QChar c : s)
        if (!set.contains(c))
            out.append(c);
    return out;
}

QString trimPunctuation(const QString &s)
{
    static const QStringList groups = {
        QStringLiteral("~`"), QStringLiteral("!@#$%^&*()"), QStringLiteral("_+-="),
        QStringLiteral("{}|[]\\"), QStringLiteral(";':\""), QStringLiteral("<>?,./")};
    QString out = s;
    for (const QString &g : groups)
        out = removeCharacters(out, g);
    return out;
}

QString cleanWord(const QString &raw, bool ignoreCase)
{
    QString w = trimPunctuation(removeCharacters(raw, QStringLiteral(" ")));
    return ignoreCase ? lowerSimple(w) : w;
}

QStringList tallyWords(const QStringList &words)
{
    QStringList tally;
    for (const QString &w : words) {
        if (w.isEmpty())
            continue;
        bool found = false;
        for (QString &entry : tally) {
            if (head(entry) == w) {
                entry += kToken + w;
                found = true;
                break;
            }
        }
        if (!found)
            tally.append(w);
    }
    return tally;
}

QString padCount(const QString &countAndWord)
{
    const qsizetype space = countAndWord.indexOf(QChar(32));
    QString number = QString::number(countAndWord.left(space).toInt());
    const QString rest = countAndWord.mid(space);
    const qsizetype length = number.size();
    for (qsizetype i = 0; i <= 10 - length; ++i)
        number.prepend(QChar(u'0'));
    return number + rest;
}

QStringList rankTally(const QStringList &tally)
{
    QStringList ranked;
    for (const QString &e : tally) {
        if (e.contains(kToken))
            ranked.append(padCount(QString::number(e.split(kToken).size()) + u' ' + head(e)));
        else
            ranked.append(padCount(QStringLiteral("1 ") + e));
    }
    return ranked;
}

QStringList bubbleSort(QStringList keys, int *passes)
{
    const qsizetype last = keys.size() - 2;
    int n = 0;
    bool swapped;
    do {
        ++n;
        swapped = false;
        for (qsizetype i = 0; i <= last; ++i) {
            if (QString::compare(keys.at(i), keys.at(i + 1), Qt::CaseSensitive) > 0) {
                keys.swapItemsAt(i, i + 1);
                swapped = true;
            }
        }
    } while (swapped);
    if (passes)
        *passes = n;
    return keys;
}

QString unpadCount(const QString &key)
{
    qsizetype i = 0;
    while (i < key.size() && key.at(i) == u'0')
        ++i;
    return key.mid(i);
}

QList<Row> countRows(const QString &text, bool ignoreCase)
{
    QStringList words = splitWords(text);
    for (QString &w : words)
        w = cleanWord(w, ignoreCase);
    QList<Row> rows;
    for (const QString &key : bubbleSort(rankTally(tallyWords(words)))) {
        const QStringList parts = unpadCount(key).split(QChar(32));
        rows.append({parts.at(1), parts.at(0)}); // words hold no spaces: nothing to trim
    }
    return rows;
}

} // namespace reference
