#pragma once

#include "workbench/workbenchtab.h"

class QLabel;
class QProgressBar;
class QStackedLayout;

namespace corvalen {

class WordListPanel;

/// "Word List": the corpus's words as a run counted them, ordered, found, summed, summarised,
/// plotted and exported (WordListPanel); while the workbench counts them, how far it has got.
/// "Show in Context" on a row asks for the concordance of its word.
class WordListTab : public WorkbenchTab
{
    Q_OBJECT

public:
    explicit WordListTab(Workbench &workbench, QWidget *parent = nullptr);

    QString title() const override { return tr("Word List"); }
    QWidget *searchField() const override;
    bool isBusy() const override;

    /// Null until the words are there.
    WordListPanel *panel() const { return m_panel; }
    /// What the workbench's own count could not read (hidden when it read everything).
    QLabel *failuresLabel() const { return m_failures; }

signals:
    /// The words are shown (the panel is there and ready).
    void ready();

private:
    void showWordList();

    QStackedLayout *m_pages = nullptr;
    QLabel *m_waiting = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_failures = nullptr;
    WordListPanel *m_panel = nullptr;
};

} // namespace corvalen
