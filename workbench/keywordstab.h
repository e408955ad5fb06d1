#pragma once

#include "corpus/keywords.h"
#include "workbench/corpustabletab.h"

#include <QStringList>

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace corvalen {

/// "Keywords": the words key in the workbench's corpus (the target) against a reference corpus,
/// files and folders counted with the same options and word rules, or a word list as
/// `corvalen count --combined` writes it; with their frequencies, per million words,
/// log-likelihood, log ratio, BIC and p, positive keywords and (on request) negative ones in
/// colours of their own. A double click shows a keyword's concordance.
class KeywordsTab : public CorpusTableTab
{
    Q_OBJECT

public:
    enum Column {
        WordColumn, FrequencyColumn, ReferenceFrequencyColumn, PerMillionColumn, ReferencePerMillionColumn,
        LogLikelihoodColumn, LogRatioColumn, BicColumn, PColumn,
    };

    explicit KeywordsTab(Workbench &workbench, QWidget *parent = nullptr);

    QString title() const override { return tr("Keywords"); }

    /// Compares the target with the reference chosen ("Start").
    void start() override;

    /// "Add Files...", "Add Folder...", "Load Word List...": ask, then count or read the reference.
    void askForFiles();
    void askForFolder();
    void askForWordList();
    /// The same without asking: files and folders are added to a reference of files (a word list
    /// is replaced); a word list replaces any reference.
    void addReferencePaths(const QStringList &paths);
    void loadWordList(const QString &path);
    void clearReference();

    /// The reference's words, once counted or read (null before).
    std::shared_ptr<const FrequencyList> reference() const { return m_reference; }
    /// Distinct words compared the last time.
    qint64 comparedWords() const { return m_compared; }

    QLabel *referenceLabel() const { return m_referenceLabel; }
    QComboBox *cutoffBox() const { return m_cutoff; }
    QCheckBox *bonferroniBox() const { return m_bonferroni; }
    QCheckBox *negativeBox() const { return m_negative; }
    QSpinBox *minFrequencyBox() const { return m_minFrequency; }
    static QList<CorpusTableColumn> columns();

protected:
    void activateRow(qint32 row) override;

private:
    void prepareReference();
    void compare();
    KeywordFilter filter() const;
    void describeReference();
    void describeLeastFrequency();

    QLabel *m_referenceLabel = nullptr;
    QPushButton *m_addFiles = nullptr;
    QPushButton *m_addFolder = nullptr;
    QPushButton *m_loadList = nullptr;
    QPushButton *m_clear = nullptr;
    QComboBox *m_cutoff = nullptr;
    QCheckBox *m_bonferroni = nullptr;
    QCheckBox *m_negative = nullptr;
    QSpinBox *m_minFrequency = nullptr;
    QLabel *m_minFrequencyUnit = nullptr;

    QStringList m_referencePaths; // files and folders as chosen
    QString m_referenceList;      // or a word list
    std::shared_ptr<const FrequencyList> m_reference;
    QStringList m_referenceFailures; // reference files that could not be read
    QStringList m_referenceNotes;    // what a word list left out, or that it counts nothing
    std::shared_ptr<const FrequencyList> m_target;
    qint64 m_compared = 0;
    bool m_preparing = false;
};

} // namespace corvalen
