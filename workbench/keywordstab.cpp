#include "workbench/keywordstab.h"

#include "base/errorreport.h"
#include "base/prompter.h"
#include "documents/documentengine.h"
#include "engine/analysisrun.h"
#include "filelist/folderscan.h"
#include "workbench/corpustablemodel.h"
#include "workbench/failurelist.h"
#include "workbench/wordlistsnapshot.h"
#include "workbench/workbench.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <mutex>

namespace corvalen {

namespace {

// A combined count of files with the workbench's options and word rules, as the command counts
// its target and reference.
FrequencyList countFiles(const QStringList &files, const CountOptions &workbenchOptions, Progress &progress,
                         QStringList *failures)
{
    FailureList reporter;
    DocumentEngine engine(&reporter);
    engine.setParagraphs(workbenchOptions.rules.paragraphs);
    FrequencyList list = countFrequencies(files, workbenchOptions, engine, &progress, &reporter);
    if (failures)
        *failures = reporter.descriptions();
    return list;
}

// The rows of a combined word list as the target's words.
FrequencyList listOf(const ResultTable &table)
{
    FrequencyList list;
    list.reserve(size_t(table.rowCount()), size_t(table.rowCount()) * 8);
    for (qsizetype r = 0; r < table.rowCount(); ++r)
        list.add(table.wordView(r), table.count(r));
    return list;
}

} // namespace

QList<CorpusTableColumn> KeywordsTab::columns()
{
    using Kind = CorpusTableColumn::Kind;
    return {{tr("Keyword"), Kind::Text},
            {tr("Frequency"), Kind::Count},
            {tr("Reference frequency"), Kind::Count},
            {tr("Per million"), Kind::Decimal},
            {tr("Reference per million"), Kind::Decimal},
            {tr("Log-likelihood"), Kind::Decimal},
            {tr("Log ratio"), Kind::Decimal},
            {tr("BIC"), Kind::Decimal},
            {tr("p"), Kind::Probability, 5}}; // as the command line writes it
}

KeywordsTab::KeywordsTab(Workbench &workbench, QWidget *parent) : CorpusTableTab(workbench, parent)
{
    setObjectName(u"keywordsTab"_qs);
    startButton()->setObjectName(u"startKeywords"_qs);
    startButton()->setText(tr("Compare"));
    startButton()->setToolTip(tr("Compares the corpus with the reference."));
    stopButton()->setObjectName(u"stopKeywords"_qs);
    statusLabel()->setObjectName(u"keywordsStatus"_qs);
    view()->setObjectName(u"keywordsTable"_qs);

    m_referenceLabel = new QLabel(this);
    m_referenceLabel->setObjectName(u"referenceSize"_qs);
    m_referenceLabel->setTextFormat(Qt::PlainText);
    m_addFiles = new QPushButton(tr("Add Files..."), this);
    m_addFiles->setObjectName(u"addReferenceFiles"_qs);
    m_addFolder = new QPushButton(tr("Add Folder..."), this);
    m_addFolder->setObjectName(u"addReferenceFolder"_qs);
    m_loadList = new QPushButton(tr("Load Word List..."), this);
    m_loadList->setObjectName(u"loadWordList"_qs);
    m_loadList->setToolTip(tr("A word list as Corvalen writes a count for all files: tab-separated, CSV or JSON."));
    m_clear = new QPushButton(tr("Clear"), this);
    m_clear->setObjectName(u"clearReference"_qs);
    m_cutoff = new QComboBox(this);
    m_cutoff->setObjectName(u"keywordCutoff"_qs);
    m_cutoff->setAccessibleName(tr("p below"));
    for (const double cutoff : keywordCutoffs()) {
        if (cutoff >= 1)
            m_cutoff->addItem(tr("none"), cutoff);
        else
            m_cutoff->addItem(QLocale().toString(cutoff, 'g', 4), cutoff);
    }
    m_cutoff->setCurrentIndex(m_cutoff->findData(0.05));
    m_bonferroni = new QCheckBox(tr("Bonferroni"), this);
    m_bonferroni->setObjectName(u"bonferroni"_qs);
    m_bonferroni->setToolTip(tr("The cut-off divided by the number of distinct words compared."));
    m_negative = new QCheckBox(tr("Negative keywords"), this);
    m_negative->setObjectName(u"negativeKeywords"_qs);
    m_negative->setToolTip(tr("Also the words less frequent in the corpus than in the reference (in red)."));
    m_minFrequency = new QSpinBox(this);
    m_minFrequency->setObjectName(u"keywordMinFrequency"_qs);
    m_minFrequency->setAccessibleName(tr("Least frequency"));
    m_minFrequency->setRange(0, 1000000000);
    m_minFrequency->setValue(1);
    m_minFrequency->setKeyboardTracking(false);
    m_minFrequency->setGroupSeparatorShown(true);

    auto *referenceRow = new QHBoxLayout;
    referenceRow->addWidget(m_referenceLabel, 1);
    referenceRow->addWidget(m_addFiles);
    referenceRow->addWidget(m_addFolder);
    referenceRow->addWidget(m_loadList);
    referenceRow->addWidget(m_clear);
    auto *cutoffLabel = new QLabel(tr("&p below:"), this);
    cutoffLabel->setBuddy(m_cutoff);
    auto *leastLabel = new QLabel(tr("At &least:"), this);
    leastLabel->setBuddy(m_minFrequency);
    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(cutoffLabel);
    filterRow->addWidget(m_cutoff);
    filterRow->addWidget(m_bonferroni);
    filterRow->addSpacing(12);
    filterRow->addWidget(m_negative);
    filterRow->addSpacing(12);
    filterRow->addWidget(leastLabel);
    filterRow->addWidget(m_minFrequency);
    m_minFrequencyUnit = new QLabel(this);
    m_minFrequencyUnit->setObjectName(u"keywordMinFrequencyUnit"_qs);
    filterRow->addWidget(m_minFrequencyUnit);
    filterRow->addStretch();
    filterRow->addWidget(startButton());
    filterRow->addWidget(stopButton());
    auto *settings = new QVBoxLayout;
    settings->addLayout(referenceRow);
    settings->addLayout(filterRow);
    finishLayout(settings, columns());

    connect(m_addFiles, &QPushButton::clicked, this, &KeywordsTab::askForFiles);
    connect(m_addFolder, &QPushButton::clicked, this, &KeywordsTab::askForFolder);
    connect(m_loadList, &QPushButton::clicked, this, &KeywordsTab::askForWordList);
    connect(m_clear, &QPushButton::clicked, this, &KeywordsTab::clearReference);
    // The filter applies at once to a reference at hand.
    const auto filterChanged = [this] {
        if (m_reference)
            compare();
    };
    connect(m_cutoff, &QComboBox::currentIndexChanged, this, filterChanged);
    connect(m_bonferroni, &QCheckBox::toggled, this, filterChanged);
    connect(m_negative, &QCheckBox::toggled, this, filterChanged);
    connect(m_negative, &QCheckBox::toggled, this, &KeywordsTab::describeLeastFrequency);
    describeLeastFrequency();
    connect(m_minFrequency, &QSpinBox::valueChanged, this, filterChanged);
    // A comparison waiting for the corpus's own count goes on when it is there.
    connect(&m_workbench, &Workbench::wordListReady, this, [this] {
        if (m_reference && !isRunning())
            compare();
    });
    describeReference();
    setStatus(tr("Choose a reference: files, a folder or a word list to compare the corpus with."));
}

KeywordFilter KeywordsTab::filter() const
{
    KeywordFilter f;
    f.cutoff = m_cutoff->currentData().toDouble();
    f.bonferroni = m_bonferroni->isChecked();
    f.negative = m_negative->isChecked();
    f.minFrequency = m_minFrequency->value();
    return f;
}

void KeywordsTab::describeLeastFrequency()
{
    // A negative keyword may be absent from the corpus: the least frequency is then the larger one's.
    const bool negative = m_negative->isChecked();
    m_minFrequencyUnit->setText(negative ? tr("times in the corpus or the reference") : tr("times in the corpus"));
    m_minFrequency->setToolTip(negative ? tr("The least of the larger of a word's frequencies in the corpus and the "
                                             "reference.")
                                        : tr("The least frequency of a keyword in the corpus."));
}

void KeywordsTab::describeReference()
{
    const QLocale locale;
    QString text;
    if (m_referencePaths.isEmpty() && m_referenceList.isEmpty()) {
        text = tr("Reference: none yet");
    } else if (!m_reference) {
        text = m_referenceList.isEmpty() ? tr("Reference: counting the files...") : tr("Reference: reading the word list...");
    } else {
        const QString words = m_reference->total == 1 ? tr("1 word") : tr("%1 words").arg(locale.toString(m_reference->total));
        if (!m_referenceList.isEmpty())
            text = tr("Reference: the word list %1, %2").arg(QFileInfo(m_referenceList).fileName(), words);
        else
            text = tr("Reference: %1, %2").arg(tr("%Ln file(s)", nullptr, int(m_reference->files)), words);
    }
    m_referenceLabel->setText(text);
}

void KeywordsTab::askForFiles()
{
    const QStringList files = m_workbench.prompter().openFiles(tr("Add Files to the Reference"), {tr("All files (*)")});
    if (!files.isEmpty())
        addReferencePaths(files);
}

void KeywordsTab::askForFolder()
{
    const QString folder = m_workbench.prompter().pickFolder(tr("Add a Folder to the Reference"));
    if (!folder.isEmpty())
        addReferencePaths({folder});
}

void KeywordsTab::askForWordList()
{
    const QStringList files = m_workbench.prompter().openFiles(
            tr("Load a Word List as the Reference"),
            {tr("Word lists (*.tsv *.txt *.csv *.json)"), tr("All files (*)")});
    if (!files.isEmpty())
        loadWordList(files.constFirst());
}

void KeywordsTab::addReferencePaths(const QStringList &paths)
{
    m_referenceList.clear();
    m_referencePaths += paths;
    prepareReference();
}

void KeywordsTab::loadWordList(const QString &path)
{
    m_referencePaths.clear();
    m_referenceList = path;
    prepareReference();
}

void KeywordsTab::clearReference()
{
    stop();
    m_referencePaths.clear();
    m_referenceList.clear();
    m_reference.reset();
    m_referenceFailures.clear();
    m_referenceNotes.clear();
    clearTable();
    describeReference();
    setStatus(tr("Choose a reference: files, a folder or a word list to compare the corpus with."));
}

void KeywordsTab::prepareReference()
{
    m_reference.reset();
    m_referenceFailures.clear();
    m_referenceNotes.clear();
    clearTable();
    describeReference();
    m_preparing = true;
    auto list = std::make_shared<std::optional<FrequencyList>>();
    auto error = std::make_shared<QString>();
    auto failures = std::make_shared<QStringList>();
    auto notes = std::make_shared<QStringList>();
    const QString listPath = m_referenceList;
    const QStringList paths = m_referencePaths;
    const CountOptions options = m_workbench.options();
    setStatus(listPath.isEmpty() ? tr("Counting the reference...") : tr("Reading the word list..."));
    run([list, error, failures, notes, listPath, paths, options](const std::atomic<bool> &stop, Progress &progress) {
            if (!listPath.isEmpty()) {
                *list = readFrequencyList(listPath, error.get(), notes.get());
                return;
            }
            // Folders as a drop on the file list scans them.
            const QStringList files = pathsAsDropped(paths, [&stop] { return stop.load(); });
            if (!stop)
                *list = countFiles(files, options, progress, failures.get());
        },
        [this, list, error, failures, notes] {
            m_preparing = false;
            if (!*list) {
                // A damaged list is named with its line; nothing is compared with it.
                const QString reason = *error;
                m_referenceList.clear();
                describeReference();
                setStatus(tr("Nothing compared: the word list could not be read."));
                m_workbench.prompter().message(reason, Prompter::applicationTitle(), Prompter::Icon::Warning);
                emit tableShown();
                return;
            }
            m_reference = std::make_shared<const FrequencyList>(std::move(**list));
            m_referenceFailures = *failures;
            m_referenceNotes = *notes;
            describeReference();
            compare();
        });
}

void KeywordsTab::start()
{
    if (m_reference) {
        compare();
    } else if (!m_preparing) {
        setStatus(tr("Choose a reference first: files, a folder or a word list to compare the corpus with."));
        emit tableShown();
    }
}

void KeywordsTab::compare()
{
    const std::shared_ptr<const WordListSnapshot> words = m_workbench.wordList();
    if (!m_target && !words && m_workbench.isCounting()) {
        setStatus(tr("Waiting for the corpus's words to be counted..."));
        return;
    }
    clearTable();
    const std::shared_ptr<const FrequencyList> reference = m_reference;
    std::shared_ptr<const FrequencyList> target = m_target;
    const KeywordFilter keep = filter();
    auto made = std::make_shared<std::shared_ptr<const FrequencyList>>(target);
    auto table = std::make_shared<CorpusTable>(columns());
    auto compared = std::make_shared<qint64>(0);
    const QStringList files = m_workbench.files();
    const CountOptions options = m_workbench.options();
    setStatus(tr("Comparing the corpus with the reference..."));
    run([reference, words, made, keep, table, compared, files, options](const std::atomic<bool> &stop, Progress &progress) {
            if (!*made) {
                // The word list's rows when it counts all files together; else a count of its own.
                if (words && words->options.mode == CountMode::Combined)
                    *made = std::make_shared<const FrequencyList>(listOf(words->table));
                else
                    *made = std::make_shared<const FrequencyList>(countFiles(files, options, progress, nullptr));
                if (stop)
                    return;
            }
            const std::vector<KeywordRow> rows = compareFrequencies(**made, *reference, keep, compared.get());
            table->reserve(qsizetype(rows.size()));
            for (const KeywordRow &r : rows)
                table->addRow({r.word},
                              {double(r.frequency), double(r.referenceFrequency), r.perMillion, r.referencePerMillion,
                               r.keyness.logLikelihood, r.keyness.logRatio, r.keyness.bic, r.keyness.p},
                              r.keyness.logLikelihood < 0 ? -1 : 1);
            table->rankTexts();
        },
        [this, made, table, compared] {
            m_target = *made;
            m_compared = *compared;
            showTable(table, LogLikelihoodColumn);
            const QLocale locale;
            QString status = tr("%Ln keyword(s)", nullptr, int(table->rowCount())) + u"; "_qs
                    + tr("%1 corpus words against %2 reference words, %3 distinct words compared")
                              .arg(locale.toString(m_target->total), locale.toString(m_reference->total),
                                   locale.toString(m_compared));
            if (!m_referenceFailures.isEmpty())
                status += u"; "_qs + tr("not counted in the reference: %1").arg(m_referenceFailures.join(u" "));
            status += u'.';
            for (const QString &note : std::as_const(m_referenceNotes))
                status += u' ' + note;
            setStatus(status);
            emit tableShown();
        });
}

void KeywordsTab::activateRow(qint32 row)
{
    if (const std::shared_ptr<const CorpusTable> &table = model()->table())
        m_workbench.showInConcordance(table->text(row, WordColumn));
}

} // namespace corvalen
