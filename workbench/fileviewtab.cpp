#include "workbench/fileviewtab.h"

#include "workbench/textloader.h"
#include "workbench/textviewport.h"
#include "workbench/workbench.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace corvalen {

FileViewTab::FileViewTab(Workbench &workbench, QWidget *parent) : WorkbenchTab(workbench, parent)
{
    setObjectName(u"fileViewTab"_qs);
    m_loader = new TextLoader(this);
    m_files = new QComboBox(this);
    m_files->setObjectName(u"fileViewFile"_qs);
    m_files->setAccessibleName(tr("File"));
    m_files->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_files->setMinimumContentsLength(24);
    m_files->setPlaceholderText(tr("Choose a file"));
    for (qint32 f = 0; f < m_workbench.fileCount(); ++f) {
        m_files->addItem(m_workbench.fileLabels().at(f), f);
        m_files->setItemData(f, m_workbench.files().at(f), Qt::ToolTipRole);
    }
    m_files->setCurrentIndex(-1);
    m_previous = new QPushButton(tr("Previous"), this);
    m_previous->setObjectName(u"previousHit"_qs);
    m_previous->setToolTip(tr("The hit before (Ctrl+Up)"));
    m_previous->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
    m_next = new QPushButton(tr("Next"), this);
    m_next->setObjectName(u"nextHit"_qs);
    m_next->setToolTip(tr("The hit after (Ctrl+Down)"));
    m_next->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));
    m_status = new QLabel(this);
    m_status->setObjectName(u"fileViewStatus"_qs);
    m_status->setTextFormat(Qt::PlainText);
    m_text = new TextViewport(this);
    m_text->setObjectName(u"fileViewText"_qs);
    m_text->setAccessibleName(tr("Text"));

    auto *fileLabel = new QLabel(tr("&File:"), this);
    fileLabel->setBuddy(m_files);
    auto *top = new QHBoxLayout;
    top->addWidget(fileLabel);
    top->addWidget(m_files, 1);
    top->addWidget(m_previous);
    top->addWidget(m_next);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_status);

    connect(m_files, &QComboBox::activated, this, [this](int index) { showFile(qint32(m_files->itemData(index).toInt())); });
    connect(m_previous, &QPushButton::clicked, this, &FileViewTab::previousHit);
    connect(m_next, &QPushButton::clicked, this, &FileViewTab::nextHit);
    connect(m_loader, &TextLoader::pageLoaded, m_text, &TextViewport::appendPage);
    connect(m_loader, &TextLoader::pageLoaded, this, &FileViewTab::updateStatus);
    connect(m_loader, &TextLoader::finished, this, [this](bool complete, const QString &failure) {
        m_failure = complete ? QString() : (failure.isEmpty() ? tr("The file could not be read.") : failure);
        m_text->finishPages();
        updateStatus();
        emit fileLoaded();
    });
    connect(&m_workbench, &Workbench::hitRequested, this, &FileViewTab::showHit);
    connect(&m_workbench, &Workbench::searchStarted, this, [this] {
        m_line = -1;
        m_hitsShown = -1;
        updateHits();
        updateStatus();
    });
    connect(&m_workbench, &Workbench::linesAdded, this, [this] {
        updateHits();
        updateStatus();
    });
    connect(&m_workbench, &Workbench::searchFinished, this, [this] {
        updateHits();
        updateStatus();
    });
    connect(&m_workbench, &Workbench::numberingChanged, this, &FileViewTab::updateStatus);
    updateStatus();
}

bool FileViewTab::isLoading() const
{
    return m_loader->isLoading();
}

void FileViewTab::load(qint32 file)
{
    if (file == m_file)
        return;
    m_file = file;
    m_failure.clear();
    m_hitsShown = -1;
    m_text->clear();
    {
        const QSignalBlocker block(m_files);
        m_files->setCurrentIndex(m_files->findData(file));
    }
    m_loader->load(m_workbench.files().at(file), m_workbench.options().rules.paragraphs);
    updateHits();
    updateStatus();
}

void FileViewTab::showFile(qint32 file)
{
    if (file < 0 || file >= m_workbench.fileCount())
        return;
    load(file);
    m_line = -1;
    m_text->setSelection(0, 0);
    m_text->scrollTo(0);
    updateStatus();
    m_workbench.showTab(this);
}

void FileViewTab::showHit(qsizetype line)
{
    if (line < 0 || line >= m_workbench.lineCount())
        return;
    const ConcordanceLine &hit = m_workbench.line(line);
    load(hit.file);
    m_line = line;
    if (!hit.failed) {
        m_text->setSelection(hit.hitStart, hit.hitEnd);
        m_text->scrollTo(hit.hitStart);
    }
    updateStatus();
    m_workbench.showTab(this);
    m_text->setFocus(Qt::OtherFocusReason);
}

void FileViewTab::updateHits()
{
    if (m_file < 0 || !m_workbench.hasQuery()) {
        if (!m_text->hits().empty())
            m_text->setHits({});
        m_hitsShown = -1;
        return;
    }
    const Workbench::Range lines = m_workbench.fileLines(m_file);
    if (lines.count == m_hitsShown)
        return;
    // While the search goes on, a file's lines only grow at its end: only those are added.
    const qsizetype from = m_hitsShown >= 0 && m_hitsShown < lines.count ? m_hitsShown : 0;
    m_hitsShown = lines.count;
    std::vector<std::pair<qint64, qint64>> hits;
    hits.reserve(size_t(lines.count - from));
    for (qsizetype i = lines.first + from; i < lines.first + lines.count; ++i) {
        const ConcordanceLine &line = m_workbench.line(i);
        if (!line.failed)
            hits.emplace_back(line.hitStart, line.hitEnd);
    }
    if (from > 0)
        m_text->addHits(hits);
    else
        m_text->setHits(std::move(hits));
}

qsizetype FileViewTab::neighbourHit(int direction) const
{
    const qsizetype count = m_workbench.lineCount();
    const auto usable = [&](qsizetype i) { return i >= 0 && i < count && !m_workbench.line(i).failed; };
    qsizetype from = -1;
    if (m_line >= 0) {
        from = m_line + direction;
    } else if (m_file >= 0) {
        // From the place shown: the first hit at or below the top of the view, or the last above it.
        const qint64 top = m_text->topOffset();
        const Workbench::Range lines = m_workbench.fileLines(m_file);
        // The file's hits lie in text order; a failure of the file, if any, comes after them.
        qsizetype lo = lines.first;
        qsizetype hi = lines.first + lines.count;
        if (hi > lo && m_workbench.line(hi - 1).failed)
            --hi;
        while (lo < hi) {
            const qsizetype mid = lo + (hi - lo) / 2;
            if (m_workbench.line(mid).hitStart < top)
                lo = mid + 1;
            else
                hi = mid;
        }
        const qsizetype i = lo;
        if (lines.count > 0) {
            from = direction > 0 ? i : i - 1;
        } else {
            // No hit in this file: the nearest file that has one.
            from = direction > 0 ? count : -1;
            for (qint32 f = m_file + direction; f >= 0 && f < m_workbench.fileCount(); f += direction) {
                const Workbench::Range other = m_workbench.fileLines(f);
                if (other.count > 0) {
                    from = direction > 0 ? other.first : other.first + other.count - 1;
                    break;
                }
            }
        }
    } else {
        from = direction > 0 ? 0 : count - 1;
    }
    for (qsizetype i = from; i >= 0 && i < count; i += direction) {
        if (usable(i))
            return i;
    }
    return -1;
}

void FileViewTab::previousHit()
{
    const qsizetype line = neighbourHit(-1);
    if (line >= 0)
        showHit(line);
}

void FileViewTab::nextHit()
{
    const qsizetype line = neighbourHit(1);
    if (line >= 0)
        showHit(line);
}

void FileViewTab::updateStatus()
{
    const QLocale locale;
    m_previous->setEnabled(neighbourHit(-1) >= 0);
    m_next->setEnabled(neighbourHit(1) >= 0);
    if (m_file < 0) {
        m_status->setText(m_workbench.hasQuery() ? tr("Double-click a concordance line, click a mark of the plot or choose a file.")
                                                 : tr("Choose a file to read it as the count reads it."));
        return;
    }
    QString status;
    const Workbench::Range lines = m_workbench.fileLines(m_file);
    qsizetype fileHits = lines.count;
    if (fileHits > 0 && m_workbench.line(lines.first + lines.count - 1).failed)
        --fileHits;
    if (m_line >= 0 && !m_workbench.line(m_line).failed) {
        // The line's number as the concordance shows it, in its order (the one clicked), and the
        // hit's place among the file's hits, in text order.
        status = tr("Concordance line %1 of %2; hit %3 of %4 in this file")
                         .arg(locale.toString(m_workbench.shownNumber(m_line)), locale.toString(m_workbench.lineCount()),
                              locale.toString(m_line - lines.first + 1), locale.toString(fileHits));
    } else if (m_workbench.hasQuery()) {
        status = fileHits == 1 ? tr("1 hit in this file") : tr("%1 hits in this file").arg(locale.toString(fileHits));
    }
    if (!m_failure.isEmpty())
        status = m_failure;
    else if (m_loader->isLoading())
        status += (status.isEmpty() ? QString() : u"  "_qs) + tr("(reading the file: %1 characters so far)").arg(locale.toString(m_text->length()));
    m_status->setText(status);
}

} // namespace corvalen
