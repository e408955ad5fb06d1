#include "windows/wordrulesdialog.h"

#include "base/prompter.h"
#include "engine/lemmas.h"
#include "filelist/settingsstore.h"
#include "ui_wordrulesdialog.h"

#include <QDir>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

namespace corvalen {

namespace {

// The list items hold what is stored: a language code or a path.
constexpr int kListRole = Qt::UserRole;

QString languageLabel(const QString &code)
{
    const QLocale locale(code);
    const QString name = locale.language() == QLocale::C ? code : QLocale::languageToString(locale.language());
    return name + u" (" + code + u')';
}

// The unit after a spin box's number, in the form the number wants: counted is the text with the
// number ("1 character"), which the box shows itself.
QString unitAfter(const QString &counted, int n)
{
    const QString number = QString::number(n);
    return counted.startsWith(number) ? counted.mid(number.size()) : u' ' + counted;
}

} // namespace

WordRules wordRulesFromStored(const StoredWordRules &stored)
{
    WordRules rules;
    rules.words = stored.words == StoredWordRules::Words::Unicode  ? WordRules::Words::Unicode
                : stored.words == StoredWordRules::Words::Corpus ? WordRules::Words::Corpus
                                                                 : WordRules::Words::Basic;
    // Only corpus words ever join at hyphens: with the others the box changes nothing.
    if (rules.words == WordRules::Words::Corpus && stored.splitHyphens)
        rules.hyphens = WordRules::Hyphens::Split;
    if (stored.paragraphs == StoredWordRules::Paragraphs::BlankLines)
        rules.paragraphs = WordRules::Paragraphs::BlankLines;
    rules.punctuation = stored.allPunctuation ? WordRules::Punctuation::All : WordRules::Punctuation::Ascii;
    rules.stopWordLists = stored.stopWordLists;
    rules.minLength = std::max(1, stored.minLength);
    if (isStemmingLanguage(stored.stemLanguage))
        rules.stemLanguage = stored.stemLanguage;
    if (rules.stemLanguage.isEmpty()) {
        for (const QString &list : stored.lemmaLists) {
            if (isLemmaLanguage(list) || !looksLikeLanguageCode(list))
                rules.lemmaLists << list;
        }
    }
    rules.phraseLength = std::clamp(stored.phraseLength, 1, WordRules::kMaxPhraseLength);
    return rules;
}

WordRulesDialog::WordRulesDialog(SettingsStore &settings, Prompter &prompter, QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::WordRulesDialog>()), m_settings(settings), m_prompter(prompter)
{
    m_ui->setupUi(this);
    m_ui->UpDown1->setRange(1, StoredWordRules::kMaxMinLength);
    m_ui->UpDown2->setRange(1, WordRules::kMaxPhraseLength);
    const auto showUnits = [this] {
        m_ui->UpDown1->setSuffix(unitAfter(tr("%n character(s)", nullptr, m_ui->UpDown1->value()),
                                           m_ui->UpDown1->value()));
        m_ui->UpDown2->setSuffix(unitAfter(tr("%n word(s)", nullptr, m_ui->UpDown2->value()),
                                           m_ui->UpDown2->value()));
    };
    connect(m_ui->UpDown1, &QSpinBox::valueChanged, this, showUnits);
    connect(m_ui->UpDown2, &QSpinBox::valueChanged, this, showUnits);
    const auto addWords = [this](const QString &text, StoredWordRules::Words words, const QString &tip) {
        m_ui->Combo3->addItem(text, int(words));
        m_ui->Combo3->setItemData(m_ui->Combo3->count() - 1, tip, Qt::ToolTipRole);
    };
    addWords(tr("Plain rules"), StoredWordRules::Words::Basic,
             tr("Words lie between spaces and paragraph ends; the 32 ASCII punctuation characters are "
                "deleted wherever they stand (don't gives dont)."));
    addWords(tr("Unicode words"), StoredWordRules::Words::Unicode,
             tr("Split where the word boundaries of every language lie (with dictionaries for Chinese, "
                "Japanese, Thai, Lao, Khmer and Burmese)."));
    addWords(tr("Corpus words"), StoredWordRules::Words::Corpus,
             tr("Unicode words that keep an apostrophe between letters (don't, l'homme), a single hyphen "
                "between letters or digits (well-known) and the points and commas of numbers (3,141.5); "
                "every other punctuation character separates words."));
    m_ui->Combo4->addItem(tr("every line end"), int(StoredWordRules::Paragraphs::Lines));
    m_ui->Combo4->addItem(tr("an empty line (text wrapped by hand)"), int(StoredWordRules::Paragraphs::BlankLines));
    m_ui->Combo1->addItem(tr("none"), QString());
    for (const QString &language : stemmingLanguages())
        m_ui->Combo1->addItem(language, language);
    for (const QString &code : builtInStopWordLists())
        addListItem(code, false);
    for (const QString &code : lemmaLanguages())
        addLemmaItem(code, false);
    // Letter case is the main window's Check3; the workbench's own rules hold it beside the others.
    const bool workbench = m_settings.rulesScope() == RulesScope::Workbench;
    m_ui->Check7->setVisible(workbench);
    if (workbench)
        setWindowTitle(tr("Word Rules of the Corpus Workbench"));
    showStored();
    showUnits();

    connect(m_ui->Combo3, &QComboBox::currentIndexChanged, this, [this](int index) {
        const auto words = StoredWordRules::Words(m_ui->Combo3->itemData(index).toInt());
        m_settings.writeWords(words);
        showWordsChoice();
    });
    connect(m_ui->Check6, &QCheckBox::toggled, this, [this](bool on) { m_settings.writeSplitHyphens(on); });
    connect(m_ui->Combo4, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_settings.writeParagraphs(StoredWordRules::Paragraphs(m_ui->Combo4->itemData(index).toInt()));
    });
    connect(m_ui->Check5, &QCheckBox::toggled, this, [this](bool on) { m_settings.writeAllPunctuation(on); });
    connect(m_ui->Check7, &QCheckBox::toggled, this, [this](bool on) { m_settings.writeWorkbenchIgnoresCase(on); });
    connect(m_ui->List1, &QListWidget::itemChanged, this, &WordRulesDialog::storeStopWordLists);
    connect(m_ui->Command1, &QPushButton::clicked, this, &WordRulesDialog::addListsFromFiles);
    connect(m_ui->UpDown1, &QSpinBox::valueChanged, this, [this](int n) { m_settings.writeMinLength(n); });
    connect(m_ui->Combo1, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_settings.writeStemLanguage(m_ui->Combo1->itemData(index).toString());
        // Forms are grouped by stems or by lemmas: a stem language unticks the lemmas.
        if (index > 0 && !tickedLemmaLists().isEmpty()) {
            const QSignalBlocker quiet(m_ui->LemmaLists);
            for (int i = 0; i < m_ui->LemmaLists->count(); ++i)
                m_ui->LemmaLists->item(i)->setCheckState(Qt::Unchecked);
            storeLemmaLists();
        }
    });
    connect(m_ui->LemmaLists, &QListWidget::itemChanged, this, [this] {
        storeLemmaLists();
        if (!tickedLemmaLists().isEmpty())
            m_ui->Combo1->setCurrentIndex(0);
    });
    connect(m_ui->AddLemmaList, &QPushButton::clicked, this, &WordRulesDialog::addLemmaListsFromFiles);
    connect(m_ui->UpDown2, &QSpinBox::valueChanged, this, [this](int n) { m_settings.writePhraseLength(n); });
    connect(m_ui->Command2, &QPushButton::clicked, this, &WordRulesDialog::restoreDefaults);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

WordRulesDialog::~WordRulesDialog() = default;

void WordRulesDialog::showStored()
{
    const StoredWordRules stored = m_settings.readWordRules();
    const WordRules rules = wordRulesFromStored(stored);
    m_ui->Combo3->setCurrentIndex(std::max(0, m_ui->Combo3->findData(int(stored.words))));
    m_ui->Check6->setChecked(stored.splitHyphens);
    m_ui->Combo4->setCurrentIndex(std::max(0, m_ui->Combo4->findData(int(stored.paragraphs))));
    showWordsChoice();
    m_ui->Check5->setChecked(rules.punctuation == WordRules::Punctuation::All);
    m_ui->Check7->setChecked(m_settings.readWorkbenchIgnoresCase());
    const QSignalBlocker quiet(m_ui->List1);
    for (const QString &list : rules.stopWordLists)
        addListItem(list, true);
    m_ui->UpDown1->setValue(rules.minLength);
    m_ui->Combo1->setCurrentIndex(std::max(0, m_ui->Combo1->findData(rules.stemLanguage)));
    {
        const QSignalBlocker quietLemmas(m_ui->LemmaLists);
        for (const QString &list : rules.lemmaLists)
            addLemmaItem(list, true);
    }
    m_ui->UpDown2->setValue(rules.phraseLength);
}

void WordRulesDialog::showWordsChoice()
{
    m_ui->Combo3->setToolTip(m_ui->Combo3->currentData(Qt::ToolTipRole).toString());
    m_ui->Check6->setEnabled(m_ui->Combo3->currentData().toInt() == int(StoredWordRules::Words::Corpus));
}

void WordRulesDialog::addListItem(const QString &list, bool ticked)
{
    QListWidgetItem *item = nullptr;
    for (int i = 0; i < m_ui->List1->count() && !item; ++i) {
        if (m_ui->List1->item(i)->data(kListRole).toString() == list)
            item = m_ui->List1->item(i);
    }
    if (!item) {
        const bool language = builtInStopWordLists().contains(list);
        item = new QListWidgetItem(language ? languageLabel(list) : QDir::toNativeSeparators(list), m_ui->List1);
        item->setData(kListRole, list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    if (ticked)
        item->setCheckState(Qt::Checked);
}

void WordRulesDialog::storeStopWordLists()
{
    QStringList lists;
    for (int i = 0; i < m_ui->List1->count(); ++i) {
        const QListWidgetItem *item = m_ui->List1->item(i);
        if (item->checkState() == Qt::Checked)
            lists << item->data(kListRole).toString();
    }
    m_settings.writeStopWordLists(lists);
}

void WordRulesDialog::addListsFromFiles()
{
    const QStringList paths = m_prompter.openFiles(
            tr("Add Stop Words"), {tr("Word Lists (*.txt)"), tr("All Files (*)")});
    for (const QString &path : paths) {
        // A list that cannot be read is named now rather than when a run starts.
        WordRules probe;
        probe.stopWordLists = {path};
        QString error;
        if (!WordFinder::create(probe, true, &error)) {
            m_prompter.message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
            continue;
        }
        addListItem(path, true);
    }
}

void WordRulesDialog::addLemmaItem(const QString &list, bool ticked)
{
    QListWidgetItem *item = nullptr;
    for (int i = 0; i < m_ui->LemmaLists->count() && !item; ++i) {
        if (m_ui->LemmaLists->item(i)->data(kListRole).toString() == list)
            item = m_ui->LemmaLists->item(i);
    }
    if (!item) {
        const bool language = isLemmaLanguage(list);
        item = new QListWidgetItem(language ? languageLabel(list) : QDir::toNativeSeparators(list), m_ui->LemmaLists);
        item->setData(kListRole, list);
        if (language)
            item->setToolTip(lemmaLanguageSource(list));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    if (ticked)
        item->setCheckState(Qt::Checked);
}

QStringList WordRulesDialog::tickedLemmaLists() const
{
    QStringList lists;
    for (int i = 0; i < m_ui->LemmaLists->count(); ++i) {
        const QListWidgetItem *item = m_ui->LemmaLists->item(i);
        if (item->checkState() == Qt::Checked)
            lists << item->data(kListRole).toString();
    }
    return lists;
}

void WordRulesDialog::storeLemmaLists()
{
    m_settings.writeLemmaLists(tickedLemmaLists());
}

void WordRulesDialog::addLemmaListsFromFiles()
{
    const QStringList paths = m_prompter.openFiles(
            tr("Add Lemma List"), {tr("Lemma Lists (*.txt *.tsv)"), tr("All Files (*)")});
    for (const QString &path : paths) {
        // A list that cannot be read is named now rather than when a run starts, and so are its
        // forms given two lemmas.
        WordRules probe;
        probe.lemmaLists = {path};
        QString error;
        const std::unique_ptr<WordFinder> finder = WordFinder::create(probe, true, &error);
        if (!finder) {
            m_prompter.message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
            continue;
        }
        const QStringList notes = finder->notes();
        if (!notes.isEmpty()) {
            QString text = notes.join(u'\n');
            text[0] = text[0].toUpper();
            m_prompter.message(text, Prompter::applicationTitle(), Prompter::Icon::Information);
        }
        addLemmaItem(path, true);
    }
}

void WordRulesDialog::restoreDefaults()
{
    // The plain rules for the main window, corpus words for the workbench.
    const StoredWordRules defaults = m_settings.defaultWordRules();
    m_ui->Combo3->setCurrentIndex(std::max(0, m_ui->Combo3->findData(int(defaults.words))));
    m_ui->Check6->setChecked(false);
    m_ui->Combo4->setCurrentIndex(std::max(0, m_ui->Combo4->findData(int(defaults.paragraphs))));
    m_ui->Check5->setChecked(false);
    if (m_settings.rulesScope() == RulesScope::Workbench)
        m_ui->Check7->setChecked(true);
    {
        const QSignalBlocker quiet(m_ui->List1);
        for (int i = 0; i < m_ui->List1->count(); ++i)
            m_ui->List1->item(i)->setCheckState(Qt::Unchecked);
    }
    {
        const QSignalBlocker quiet(m_ui->LemmaLists);
        for (int i = 0; i < m_ui->LemmaLists->count(); ++i)
            m_ui->LemmaLists->item(i)->setCheckState(Qt::Unchecked);
    }
    m_ui->UpDown1->setValue(1);
    m_ui->Combo1->setCurrentIndex(0);
    m_ui->UpDown2->setValue(1);
    // Stored whether a control changed or not: the store may hold values no control showed.
    m_settings.writeWords(defaults.words);
    m_settings.writeSplitHyphens(defaults.splitHyphens);
    m_settings.writeParagraphs(defaults.paragraphs);
    m_settings.writeAllPunctuation(defaults.allPunctuation);
    m_settings.writeStopWordLists(defaults.stopWordLists);
    m_settings.writeMinLength(defaults.minLength);
    m_settings.writeStemLanguage(defaults.stemLanguage);
    m_settings.writeLemmaLists(defaults.lemmaLists);
    m_settings.writePhraseLength(defaults.phraseLength);
}

WordRules WordRulesDialog::rules() const
{
    WordRules rules;
    StoredWordRules shown;
    shown.words = StoredWordRules::Words(m_ui->Combo3->currentData().toInt());
    shown.splitHyphens = m_ui->Check6->isChecked();
    shown.paragraphs = StoredWordRules::Paragraphs(m_ui->Combo4->currentData().toInt());
    const WordRules chosen = wordRulesFromStored(shown);
    rules.words = chosen.words;
    rules.hyphens = chosen.hyphens;
    rules.paragraphs = chosen.paragraphs;
    rules.punctuation = m_ui->Check5->isChecked() ? WordRules::Punctuation::All : WordRules::Punctuation::Ascii;
    for (int i = 0; i < m_ui->List1->count(); ++i) {
        const QListWidgetItem *item = m_ui->List1->item(i);
        if (item->checkState() == Qt::Checked)
            rules.stopWordLists << item->data(kListRole).toString();
    }
    rules.minLength = m_ui->UpDown1->value();
    rules.stemLanguage = m_ui->Combo1->currentData().toString();
    rules.lemmaLists = tickedLemmaLists();
    rules.phraseLength = m_ui->UpDown2->value();
    return rules;
}

} // namespace corvalen
