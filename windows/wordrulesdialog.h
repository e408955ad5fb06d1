#pragma once

#include "engine/wordrules.h"

#include <QDialog>

#include <memory>

namespace Ui {
class WordRulesDialog;
}

namespace corvalen {

class Prompter;
class SettingsStore;
struct StoredWordRules;

/// The word rules as a run takes them from what the settings store holds: a stemming language
/// that the program does not know counts as none, and so does a lemma language whose dictionary
/// is gone; stems, when stored, win over lemmas.
WordRules wordRulesFromStored(const StoredWordRules &stored);

/// Options > Word Rules... (Form3): the word rules beyond letter case. Every change is stored at
/// once under the name of its control; a run reads them when it starts.
class WordRulesDialog : public QDialog
{
    Q_OBJECT

public:
    WordRulesDialog(SettingsStore &settings, Prompter &prompter, QWidget *parent = nullptr);
    ~WordRulesDialog() override;

    /// The rules the controls show.
    WordRules rules() const;
    /// "Restore Defaults": every control back to the plain rules (for the workbench, its own
    /// defaults: corpus words, blank-line paragraphs, letter case ignored).
    void restoreDefaults();
    /// "Add list from file...": asks for lists and adds each that can be read, ticked.
    void addListsFromFiles();
    /// "Add lemma list from file...": asks for lemma lists and adds each that can be read, ticked
    /// (word forms are then grouped by lemma).
    void addLemmaListsFromFiles();

private:
    void showStored();
    void showWordsChoice();
    void storeStopWordLists();
    void addListItem(const QString &list, bool ticked);
    void addLemmaItem(const QString &list, bool ticked);
    void storeLemmaLists();
    QStringList tickedLemmaLists() const;

    std::unique_ptr<Ui::WordRulesDialog> m_ui;
    SettingsStore &m_settings;
    Prompter &m_prompter;
};

} // namespace corvalen
