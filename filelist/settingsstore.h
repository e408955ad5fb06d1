#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QSettings;
class QVariant;

namespace corvalen {

/// The count options as stored: the mode pair and the two check boxes.
struct StoredCountOptions
{
    bool option1 = true; // per-file mode
    bool option2 = false; // combined mode
    int check1 = 1; // include file name
    int check3 = 1; // ignore letter case
};

/// The word rules as stored, each under the name of its control in the Word Rules dialog. The
/// defaults are the plain rules (the workbench's own: SettingsStore::defaultWordRules()).
struct StoredWordRules
{
    enum class Words { Basic, Unicode, Corpus };
    enum class Paragraphs { Lines, BlankLines };

    Words words = Words::Basic;  // Combo3: "basic", "unicode", "corpus" (once Check4: 1 for Unicode)
    bool splitHyphens = false;   // Check6 (corpus words only)
    Paragraphs paragraphs = Paragraphs::Lines; // Combo4: "lines", "blank-lines"
    bool allPunctuation = false; // Check5
    QStringList stopWordLists;   // List1: language codes and paths of lists, as chosen
    int minLength = 1;           // UpDown1, 1 to kMaxMinLength
    QString stemLanguage;        // Combo1: empty for none
    QStringList lemmaLists;      // LemmaLists: language codes and paths of lists, as chosen
    int phraseLength = 1;        // UpDown2, 1 to 5

    static constexpr int kMaxMinLength = 100;

    bool operator==(const StoredWordRules &) const = default;
};

/// Whose word rules a store reads and writes: the main window's (its Options > Word Rules...), or
/// the corpus workbench's own, opened from Tools (keys under "Workbench/", corpus words and
/// blank-line paragraphs by default, and letter case of its own).
enum class RulesScope { MainWindow, Workbench };

/// The per-user settings of the program: text values under organisation "Quillmark" and
/// application "Corvalen", one key per control whose state they hold. Values are read once at
/// start-up and written the moment their control changes.
class SettingsStore
{
public:
    explicit SettingsStore(RulesScope scope = RulesScope::MainWindow);
    /// A store kept by the given settings object instead of the user's (tests watch its writes).
    explicit SettingsStore(std::unique_ptr<QSettings> settings, RulesScope scope = RulesScope::MainWindow);
    ~SettingsStore();

    /// The four count-option states, each falling back to its default when missing or
    /// unreadable; a pair that selects neither or both modes falls back to per-file mode.
    StoredCountOptions readCountOptions() const;
    /// The selected tab of the main window: 0 or 1; anything else gives 0.
    int readTabIndex() const;
    RulesScope rulesScope() const { return m_scope; }
    /// The word rules, each falling back to its default when missing or out of range.
    StoredWordRules readWordRules() const;
    /// The word rules of this store's scope when nothing is stored.
    StoredWordRules defaultWordRules() const;
    /// The workbench's letter case (Workbench/Check7): ignored unless stored otherwise.
    bool readWorkbenchIgnoresCase() const;
    void writeWorkbenchIgnoresCase(bool ignore);

    /// Both mode keys in one write, so that no reader (nor a crash between two writes) ever sees
    /// a pair that selects neither mode or both.
    void writeModes(bool option1, bool option2);
    void writeCheck1(bool ticked);
    void writeCheck3(bool ticked);
    void writeTabIndex(int index);
    void writeWords(StoredWordRules::Words words);
    void writeSplitHyphens(bool ticked);
    void writeParagraphs(StoredWordRules::Paragraphs paragraphs);
    void writeAllPunctuation(bool ticked);
    void writeStopWordLists(const QStringList &lists);
    void writeMinLength(int characters);
    void writeStemLanguage(const QString &language);
    void writeLemmaLists(const QStringList &lists);
    void writePhraseLength(int words);

    /// "True"/"False" in any letter case, or a decimal number (0 false); nullopt otherwise.
    static std::optional<bool> parseTruth(const QString &text);
    /// A check box state "0" or "1"; nullopt for anything else.
    static std::optional<int> parseCheckState(const QString &text);

private:
    QString readText(QLatin1StringView key) const;
    void writeText(QLatin1StringView key, const QString &value);
    // A word-rule key in this store's scope.
    QString rulesKey(QLatin1StringView key) const;
    QString readRule(QLatin1StringView key) const;
    void writeRule(QLatin1StringView key, const QVariant &value);

    std::unique_ptr<QSettings> m_settings;
    RulesScope m_scope = RulesScope::MainWindow;
};

} // namespace corvalen
