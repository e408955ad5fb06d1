#pragma once

#include "workbench/workbenchtab.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace corvalen {

class TextLoader;
class TextViewport;

/// "File View": a corpus file's text exactly as the count reads it, every hit of the query
/// highlighted; a hit chosen elsewhere (a concordance line, a mark of the plot) is scrolled into
/// view and selected. "Previous" and "Next" go from hit to hit across the files in corpus order.
class FileViewTab : public WorkbenchTab
{
    Q_OBJECT

public:
    explicit FileViewTab(Workbench &workbench, QWidget *parent = nullptr);

    QString title() const override { return tr("File View"); }

    /// Shows a line's hit: its file, the hit in view and selected.
    void showHit(qsizetype line);
    /// Shows a file from its start.
    void showFile(qint32 file);
    void previousHit();
    void nextHit();

    /// The file shown (-1: none) and the line whose hit is chosen (-1: none).
    qint32 file() const { return m_file; }
    qsizetype currentLine() const { return m_line; }
    /// The file's text is still being read.
    bool isLoading() const;

    TextViewport *textView() const { return m_text; }
    QComboBox *fileBox() const { return m_files; }
    QPushButton *previousButton() const { return m_previous; }
    QPushButton *nextButton() const { return m_next; }
    QLabel *statusLabel() const { return m_status; }

signals:
    /// The whole text of the file shown has been read.
    void fileLoaded();

private:
    void load(qint32 file);
    void updateHits();
    void updateStatus();
    /// The line of the next (or previous) hit from the one chosen, or from the place shown.
    qsizetype neighbourHit(int direction) const;

    TextLoader *m_loader = nullptr;
    TextViewport *m_text = nullptr;
    QComboBox *m_files = nullptr;
    QPushButton *m_previous = nullptr;
    QPushButton *m_next = nullptr;
    QLabel *m_status = nullptr;
    qint32 m_file = -1;
    qsizetype m_line = -1;
    qsizetype m_hitsShown = -1; // of the file, when its highlights were last made
    QString m_failure;
};

} // namespace corvalen
