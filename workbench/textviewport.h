#pragma once

#include "workbench/textloader.h"

#include <QAbstractScrollArea>

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

class QTextLayout;

namespace corvalen {

/// Shows a file's text however long it is: the text is held in the pages it was read in, and only
/// the blocks (paragraphs, or pieces of a long one) on screen are laid out, wrapped to the width,
/// when they are painted. The scroll bar goes by blocks. Hits are highlighted; the selection is
/// the chosen hit, or what the mouse selects, and Ctrl+C copies it.
class TextViewport : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TextViewport(QWidget *parent = nullptr);
    ~TextViewport() override;

    void clear();
    void appendPage(TextPage &page);
    /// Every page is there: a place asked for beyond the text is brought as near as it can be.
    void finishPages();
    /// The text held so far ends here (a place in the file's text).
    qint64 length() const { return m_length; }
    qsizetype blockCount() const { return m_blockCount; }
    /// The text of [start, end), paragraph ends as they are in the file.
    QString text(qint64 start, qint64 end) const;

    /// The places of the hits to highlight, [start, end) each, in text order.
    void setHits(std::vector<std::pair<qint64, qint64>> hits);
    /// More hits, after those held.
    void addHits(const std::vector<std::pair<qint64, qint64>> &hits);
    const std::vector<std::pair<qint64, qint64>> &hits() const { return m_hits; }
    void setSelection(qint64 start, qint64 end);
    std::pair<qint64, qint64> selection() const { return {m_selectionStart, m_selectionEnd}; }
    QString selectedText() const;
    void copySelection();

    /// Brings a place into view, a third of the way down; a place not read yet is brought into
    /// view once it is.
    void scrollTo(qint64 offset);
    /// The place at the top left of the view.
    qint64 topOffset() const;
    /// Whether a place is on screen now.
    bool isOnScreen(qint64 offset) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Block
    {
        qint64 start = 0;
        qint32 page = 0;
        qint32 from = 0; // in its page
        qint32 length = 0;
    };
    Block blockOf(qsizetype block) const;
    QTextLayout &layoutOf(qsizetype block) const;
    int heightOf(qsizetype block) const;
    qsizetype blockAt(qint64 offset) const;
    int textWidth() const;
    void scrollByPixels(int pixels);
    void settle();
    void updateScrollBar();
    qint64 offsetAt(const QPoint &point) const;

    // The pages as they came, each with its blocks: no vector of a million blocks that must grow
    // by copying itself while the text comes.
    std::vector<TextPage> m_pages;
    std::vector<qint64> m_pageStarts;
    std::vector<qsizetype> m_pageFirstBlocks;
    qsizetype m_blockCount = 0;
    qint64 m_length = 0;
    std::vector<std::pair<qint64, qint64>> m_hits;
    qint64 m_selectionStart = 0;
    qint64 m_selectionEnd = 0;
    qint64 m_anchor = 0;
    qint64 m_pendingScroll = -1;
    qsizetype m_topBlock = 0;
    int m_topPixels = 0; // of the top block, above the view
    bool m_settingScrollBar = false;
    mutable std::unordered_map<qsizetype, std::unique_ptr<QTextLayout>> m_layouts;
    mutable int m_layoutWidth = -1;
};

} // namespace corvalen
