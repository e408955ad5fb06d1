#include "filelist/settingsstore.h"

#include "base/designernames.h"

#include <QSettings>

namespace corvalen {

SettingsStore::SettingsStore(RulesScope scope)
    : m_settings(std::make_unique<QSettings>(QStringLiteral("Quillmark"), QStringLiteral("Corvalen"))),
      m_scope(scope)
{
}

SettingsStore::SettingsStore(std::unique_ptr<QSettings> settings, RulesScope scope)
    : m_settings(std::move(settings)), m_scope(scope)
{
}

QString SettingsStore::rulesKey(QLatin1StringView key) const
{
    return m_scope == RulesScope::Workbench ? u"Workbench/"_qs + key : QString(key);
}

QString SettingsStore::readRule(QLatin1StringView key) const
{
    return m_settings->value(rulesKey(key)).toString();
}

void SettingsStore::writeRule(QLatin1StringView key, const QVariant &value)
{
    m_settings->setValue(rulesKey(key), value);
    m_settings->sync();
}

StoredWordRules SettingsStore::defaultWordRules() const
{
    StoredWordRules r;
    // The workbench counts words as corpus linguists do: apostrophes and hyphens kept, lines of
    // hard-wrapped text joined into their paragraphs.
    if (m_scope == RulesScope::Workbench) {
        r.words = StoredWordRules::Words::Corpus;
        r.paragraphs = StoredWordRules::Paragraphs::BlankLines;
    }
    return r;
}

bool SettingsStore::readWorkbenchIgnoresCase() const
{
    return parseCheckState(m_settings->value(u"Workbench/"_qs + designer::Check7).toString()).value_or(1) == 1;
}

void SettingsStore::writeWorkbenchIgnoresCase(bool ignore)
{
    m_settings->setValue(u"Workbench/"_qs + designer::Check7, ignore ? QStringLiteral("1") : QStringLiteral("0"));
    m_settings->sync();
}

SettingsStore::~SettingsStore() = default;

std::optional<bool> SettingsStore::parseTruth(const QString &text)
{
    const QString t = text.trimmed();
    if (t.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const qlonglong n = t.toLongLong(&ok);
    if (ok)
        return n != 0;
    return std::nullopt;
}

std::optional<int> SettingsStore::parseCheckState(const QString &text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (ok && (n == 0 || n == 1))
        return n;
    return std::nullopt;
}

QString SettingsStore::readText(QLatin1StringView key) const
{
    return m_settings->value(key).toString();
}

void SettingsStore::writeText(QLatin1StringView key, const QString &value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
}

StoredCountOptions SettingsStore::readCountOptions() const
{
    StoredCountOptions o;
    o.check1 = parseCheckState(readText(designer::Check1)).value_or(1);
    const std::optional<bool> option1 = parseTruth(readText(designer::Option1));
    const std::optional<bool> option2 = parseTruth(readText(designer::Option2));
    // The program always writes the pair together, one "True" and one "False"; anything else
    // (hand edits, a partial write) would leave both or neither selected, so take the defaults.
    const bool o1 = option1.value_or(true);
    const bool o2 = option2.value_or(false);
    if (o1 != o2) {
        o.option1 = o1;
        o.option2 = o2;
    }
    o.check3 = parseCheckState(readText(designer::Check3)).value_or(1);
    return o;
}

int SettingsStore::readTabIndex() const
{
    bool ok = false;
    const int index = readText(designer::TabControl1).trimmed().toInt(&ok);
    return ok && (index == 0 || index == 1) ? index : 0;
}

StoredWordRules SettingsStore::readWordRules() const
{
    StoredWordRules r = defaultWordRules();
    const auto number = [this](QLatin1StringView key, int lowest, int highest, int fallback) {
        bool ok = false;
        const int n = readRule(key).trimmed().toInt(&ok);
        return ok && n >= lowest && n <= highest ? n : fallback;
    };
    const QString words = readRule(designer::Combo3).trimmed();
    if (words == u"basic")
        r.words = StoredWordRules::Words::Basic;
    else if (words == u"unicode")
        r.words = StoredWordRules::Words::Unicode;
    else if (words == u"corpus")
        r.words = StoredWordRules::Words::Corpus;
    else if (words.isEmpty() && m_scope == RulesScope::MainWindow
             && parseCheckState(readRule(designer::Check4)).value_or(0) == 1)
        r.words = StoredWordRules::Words::Unicode; // the check box that came before the choice
    r.splitHyphens = parseCheckState(readRule(designer::Check6)).value_or(0) == 1;
    const QString paragraphs = readRule(designer::Combo4).trimmed();
    if (paragraphs == u"blank-lines")
        r.paragraphs = StoredWordRules::Paragraphs::BlankLines;
    else if (paragraphs == u"lines")
        r.paragraphs = StoredWordRules::Paragraphs::Lines;
    r.allPunctuation = parseCheckState(readRule(designer::Check5)).value_or(0) == 1;
    for (const QString &list : m_settings->value(rulesKey(designer::List1)).toStringList()) {
        if (!list.isEmpty() && !r.stopWordLists.contains(list))
            r.stopWordLists << list;
    }
    r.minLength = number(designer::UpDown1, 1, StoredWordRules::kMaxMinLength, 1);
    r.stemLanguage = readRule(designer::Combo1).trimmed();
    for (const QString &list : m_settings->value(rulesKey(designer::LemmaLists)).toStringList()) {
        if (!list.isEmpty() && !r.lemmaLists.contains(list))
            r.lemmaLists << list;
    }
    r.phraseLength = number(designer::UpDown2, 1, 5, 1);
    return r;
}

void SettingsStore::writeWords(StoredWordRules::Words words)
{
    writeRule(designer::Combo3, words == StoredWordRules::Words::Unicode  ? QStringLiteral("unicode")
                                : words == StoredWordRules::Words::Corpus ? QStringLiteral("corpus")
                                                                          : QStringLiteral("basic"));
}

void SettingsStore::writeSplitHyphens(bool ticked)
{
    writeRule(designer::Check6, ticked ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::writeParagraphs(StoredWordRules::Paragraphs paragraphs)
{
    writeRule(designer::Combo4, paragraphs == StoredWordRules::Paragraphs::BlankLines ? QStringLiteral("blank-lines")
                                                                                      : QStringLiteral("lines"));
}

void SettingsStore::writeAllPunctuation(bool ticked)
{
    writeRule(designer::Check5, ticked ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::writeStopWordLists(const QStringList &lists)
{
    writeRule(designer::List1, lists);
}

void SettingsStore::writeMinLength(int characters)
{
    writeRule(designer::UpDown1, QString::number(characters));
}

void SettingsStore::writeStemLanguage(const QString &language)
{
    writeRule(designer::Combo1, language);
}

void SettingsStore::writeLemmaLists(const QStringList &lists)
{
    writeRule(designer::LemmaLists, lists);
}

void SettingsStore::writePhraseLength(int words)
{
    writeRule(designer::UpDown2, QString::number(words));
}

void SettingsStore::writeModes(bool option1, bool option2)
{
    const auto text = [](bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); };
    m_settings->setValue(designer::Option1, text(option1));
    m_settings->setValue(designer::Option2, text(option2));
    m_settings->sync();
}

void SettingsStore::writeCheck1(bool ticked)
{
    writeText(designer::Check1, ticked ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::writeCheck3(bool ticked)
{
    writeText(designer::Check3, ticked ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::writeTabIndex(int index)
{
    writeText(designer::TabControl1, QString::number(index));
}

} // namespace corvalen
