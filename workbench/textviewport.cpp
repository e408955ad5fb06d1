#include "workbench/textviewport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace corvalen {

namespace {

constexpr int kMargin = 6;
// Layouts kept for blocks painted lately; more are made again when needed.
constexpr size_t kKeptLayouts = 4096;

} // namespace

TextViewport::TextViewport(QWidget *parent) : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    updateScrollBar();
}

TextViewport::~TextViewport() = default;

void TextViewport::clear()
{
    m_pages.clear();
    m_pageStarts.clear();
    m_pageFirstBlocks.clear();
    m_blockCount = 0;
    m_length = 0;
    m_hits.clear();
    m_selectionStart = m_selectionEnd = m_anchor = 0;
    m_pendingScroll = -1;
    m_topBlock = 0;
    m_topPixels = 0;
    m_layouts.clear();
    updateScrollBar();
    viewport()->update();
}

void TextViewport::appendPage(TextPage &page)
{
    m_pageStarts.push_back(page.start);
    m_pageFirstBlocks.push_back(m_blockCount);
    m_blockCount += qsizetype(page.blocks.size());
    m_length = page.start + page.text.size();
    m_pages.push_back(std::move(page));
    updateScrollBar();
    if (m_pendingScroll >= 0 && m_pendingScroll < m_length) {
        const qint64 target = m_pendingScroll;
        m_pendingScroll = -1;
        scrollTo(target);
    }
    // Only what is on screen needs painting again: the first page, or the end of a short text.
    viewport()->update();
}

void TextViewport::finishPages()
{
    if (m_pendingScroll < 0)
        return;
    if (m_length == 0) {
        m_pendingScroll = -1;
        return;
    }
    const qint64 target = std::min(m_pendingScroll, std::max<qint64>(0, m_length - 1));
    m_pendingScroll = -1;
    scrollTo(target);
}

QString TextViewport::text(qint64 start, qint64 end) const
{
    QString out;
    start = std::max<qint64>(0, start);
    end = std::min(end, m_length);
    if (start >= end)
        return out;
    auto page = size_t(std::upper_bound(m_pageStarts.begin(), m_pageStarts.end(), start) - m_pageStarts.begin() - 1);
    for (; page < m_pages.size() && m_pageStarts[page] < end; ++page) {
        const qint64 from = std::max(start, m_pageStarts[page]) - m_pageStarts[page];
        const qint64 to = std::min<qint64>(end - m_pageStarts[page], m_pages[page].text.size());
        out += QStringView(m_pages[page].text).sliced(from, to - from);
    }
    return out;
}

void TextViewport::setHits(std::vector<std::pair<qint64, qint64>> hits)
{
    m_hits = std::move(hits);
    viewport()->update();
}

void TextViewport::addHits(const std::vector<std::pair<qint64, qint64>> &hits)
{
    m_hits.insert(m_hits.end(), hits.begin(), hits.end());
    viewport()->update();
}

void TextViewport::setSelection(qint64 start, qint64 end)
{
    m_selectionStart = std::min(start, end);
    m_selectionEnd = std::max(start, end);
    m_anchor = m_selectionStart;
    viewport()->update();
}

QString TextViewport::selectedText() const
{
    QString selected = text(m_selectionStart, m_selectionEnd);
    // Paragraph ends as the clipboard's users expect them.
    selected.replace(u"\r\n"_qs, u"\n"_qs);
    selected.replace(u'\r', u'\n');
    return selected;
}

void TextViewport::copySelection()
{
    if (m_selectionEnd > m_selectionStart)
        QGuiApplication::clipboard()->setText(selectedText());
}

int TextViewport::textWidth() const
{
    return std::max(40, viewport()->width() - 2 * kMargin);
}

QTextLayout &TextViewport::layoutOf(qsizetype block) const
{
    if (m_layoutWidth != textWidth()) {
        m_layouts.clear();
        m_layoutWidth = textWidth();
    }
    auto found = m_layouts.find(block);
    if (found != m_layouts.end())
        return *found->second;
    if (m_layouts.size() >= kKeptLayouts)
        m_layouts.clear();
    const Block b = blockOf(block);
    auto layout = std::make_unique<QTextLayout>(QStringView(m_pages[size_t(b.page)].text).sliced(b.from, b.length).toString(), font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    qreal y = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(m_layoutWidth);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout->endLayout();
    return *m_layouts.emplace(block, std::move(layout)).first->second;
}

int TextViewport::heightOf(qsizetype block) const
{
    const QTextLayout &layout = layoutOf(block);
    const int lineHeight = fontMetrics().height();
    return std::max(lineHeight, int(std::ceil(layout.boundingRect().height())));
}

TextViewport::Block TextViewport::blockOf(qsizetype block) const
{
    const auto page = size_t(std::upper_bound(m_pageFirstBlocks.begin(), m_pageFirstBlocks.end(), block)
                             - m_pageFirstBlocks.begin() - 1);
    const auto [from, length] = m_pages[page].blocks[size_t(block - m_pageFirstBlocks[page])];
    return {m_pageStarts[page] + from, qint32(page), from, length};
}

qsizetype TextViewport::blockAt(qint64 offset) const
{
    if (m_blockCount == 0)
        return 0;
    auto page = size_t(std::max<qsizetype>(
            0, std::upper_bound(m_pageStarts.begin(), m_pageStarts.end(), offset) - m_pageStarts.begin() - 1));
    while (page > 0 && m_pages[page].blocks.empty())
        --page;
    const auto &blocks = m_pages[page].blocks;
    const qint64 within = offset - m_pageStarts[page];
    const auto after = std::upper_bound(blocks.begin(), blocks.end(), within,
                                        [](qint64 o, const std::pair<qint32, qint32> &b) { return o < b.first; });
    return m_pageFirstBlocks[page] + std::max<qsizetype>(0, after - blocks.begin() - 1);
}

void TextViewport::updateScrollBar()
{
    m_settingScrollBar = true;
    QScrollBar *bar = verticalScrollBar();
    const int lineHeight = std::max(1, fontMetrics().height());
    bar->setRange(0, int(std::max<qsizetype>(0, blockCount() - 1)));
    bar->setPageStep(std::max(1, viewport()->height() / lineHeight));
    bar->setSingleStep(1);
    bar->setValue(int(m_topBlock));
    m_settingScrollBar = false;
}

void TextViewport::settle()
{
    const qsizetype n = blockCount();
    if (n == 0) {
        m_topBlock = 0;
        m_topPixels = 0;
        updateScrollBar();
        return;
    }
    m_topBlock = std::clamp<qsizetype>(m_topBlock, 0, n - 1);
    while (m_topPixels < 0 && m_topBlock > 0)
        m_topPixels += heightOf(--m_topBlock);
    m_topPixels = std::max(0, m_topPixels);
    while (m_topBlock < n - 1 && m_topPixels >= heightOf(m_topBlock))
        m_topPixels -= heightOf(m_topBlock++);
    // Never past the end: the last block ends at the bottom of the view at most.
    const int height = viewport()->height();
    int below = -m_topPixels;
    for (qsizetype b = m_topBlock; b < n && below < height; ++b)
        below += heightOf(b);
    if (below < height) {
        m_topPixels -= height - below;
        while (m_topPixels < 0 && m_topBlock > 0)
            m_topPixels += heightOf(--m_topBlock);
        m_topPixels = std::max(0, m_topPixels);
    }
    updateScrollBar();
}

void TextViewport::scrollByPixels(int pixels)
{
    m_topPixels += pixels;
    settle();
    viewport()->update();
}

void TextViewport::scrollContentsBy(int, int)
{
    if (m_settingScrollBar)
        return;
    // The scroll bar's handle moved: its value is the top block.
    m_topBlock = verticalScrollBar()->value();
    m_topPixels = 0;
    settle();
    viewport()->update();
}

void TextViewport::scrollTo(qint64 offset)
{
    if (offset >= m_length) {
        m_pendingScroll = offset;
        return;
    }
    if (m_blockCount == 0)
        return;
    const qsizetype block = blockAt(offset);
    const Block b = blockOf(block);
    const QTextLayout &layout = layoutOf(block);
    const QTextLine line = layout.lineForTextPosition(int(std::clamp<qint64>(offset - b.start, 0, b.length)));
    m_topBlock = block;
    m_topPixels = (line.isValid() ? int(line.y()) : 0) - viewport()->height() / 3;
    settle();
    viewport()->update();
}

qint64 TextViewport::topOffset() const
{
    if (m_blockCount == 0)
        return 0;
    const Block b = blockOf(m_topBlock);
    const QTextLayout &layout = layoutOf(m_topBlock);
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (line.y() + line.height() > m_topPixels)
            return b.start + line.textStart();
    }
    return b.start;
}

bool TextViewport::isOnScreen(qint64 offset) const
{
    const int height = viewport()->height();
    int y = -m_topPixels;
    for (qsizetype block = m_topBlock; block < blockCount() && y < height; ++block) {
        const Block b = blockOf(block);
        const QTextLayout &layout = layoutOf(block);
        if (offset >= b.start && offset <= b.start + b.length) {
            const QTextLine line = layout.lineForTextPosition(int(offset - b.start));
            const int top = y + (line.isValid() ? int(line.y()) : 0);
            const int bottom = top + (line.isValid() ? int(line.height()) : fontMetrics().height());
            return top >= 0 && bottom <= height;
        }
        y += heightOf(block);
    }
    return false;
}

qint64 TextViewport::offsetAt(const QPoint &point) const
{
    if (m_blockCount == 0)
        return 0;
    const int height = viewport()->height();
    int y = -m_topPixels;
    qsizetype block = m_topBlock;
    for (; block < blockCount(); ++block) {
        const int h = heightOf(block);
        if (point.y() < y + h || y + h >= height || block == blockCount() - 1)
            break;
        y += h;
    }
    const Block b = blockOf(block);
    const QTextLayout &layout = layoutOf(block);
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (point.y() - y < line.y() + line.height() || i == layout.lineCount() - 1)
            return b.start + line.xToCursor(point.x() - kMargin);
    }
    return b.start;
}

void TextViewport::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int height = viewport()->height();
    QTextCharFormat hitFormat;
    hitFormat.setBackground(QColor(0xff, 0xe0, 0x70));
    QTextCharFormat selectedFormat;
    selectedFormat.setBackground(palette().brush(QPalette::Active, QPalette::Highlight));
    selectedFormat.setForeground(palette().brush(QPalette::Active, QPalette::HighlightedText));
    painter.setPen(palette().color(QPalette::Text));
    int y = -m_topPixels;
    for (qsizetype block = m_topBlock; block < blockCount() && y < height; ++block) {
        const Block b = blockOf(block);
        const qint64 end = b.start + b.length;
        QList<QTextLayout::FormatRange> formats;
        const auto overlap = [&](qint64 from, qint64 to, const QTextCharFormat &format) {
            from = std::max(from, b.start);
            to = std::min(to, end);
            if (from < to)
                formats.append({int(from - b.start), int(to - from), format});
        };
        // Hits lie in text order without overlapping: their ends ascend too.
        auto hit = std::upper_bound(m_hits.begin(), m_hits.end(), b.start,
                                    [](qint64 o, const std::pair<qint64, qint64> &h) { return o < h.second; });
        for (; hit != m_hits.end() && hit->first < end; ++hit)
            overlap(hit->first, hit->second, hitFormat);
        overlap(m_selectionStart, m_selectionEnd, selectedFormat);
        layoutOf(block).draw(&painter, QPointF(kMargin, y), formats);
        y += heightOf(block);
    }
}

void TextViewport::resizeEvent(QResizeEvent *event)
{
    // Keep the place at the top where it was, whatever the new wrapping.
    const qint64 top = topOffset();
    QAbstractScrollArea::resizeEvent(event);
    if (m_blockCount == 0) {
        updateScrollBar();
        return;
    }
    const qsizetype block = blockAt(top);
    const QTextLine line = layoutOf(block).lineForTextPosition(int(top - blockOf(block).start));
    m_topBlock = block;
    m_topPixels = line.isValid() ? int(line.y()) : 0;
    settle();
}

void TextViewport::wheelEvent(QWheelEvent *event)
{
    const int lineHeight = fontMetrics().height();
    const QPoint pixels = event->pixelDelta();
    const int delta = !pixels.isNull() ? -pixels.y() : -event->angleDelta().y() * 3 * lineHeight / 120;
    scrollByPixels(delta);
    event->accept();
}

void TextViewport::keyPressEvent(QKeyEvent *event)
{
    const int lineHeight = fontMetrics().height();
    const int page = std::max(lineHeight, viewport()->height() - lineHeight);
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        setSelection(0, m_length);
    } else if (event->key() == Qt::Key_Down) {
        scrollByPixels(lineHeight);
    } else if (event->key() == Qt::Key_Up) {
        scrollByPixels(-lineHeight);
    } else if (event->key() == Qt::Key_PageDown || event->key() == Qt::Key_Space) {
        scrollByPixels(page);
    } else if (event->key() == Qt::Key_PageUp) {
        scrollByPixels(-page);
    } else if (event->key() == Qt::Key_Home) {
        m_topBlock = 0;
        m_topPixels = 0;
        settle();
        viewport()->update();
    } else if (event->key() == Qt::Key_End) {
        m_topBlock = std::max<qsizetype>(0, blockCount() - 1);
        m_topPixels = 0;
        settle();
        viewport()->update();
    } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TextViewport::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    const qint64 at = offsetAt(event->position().toPoint());
    if (event->modifiers() & Qt::ShiftModifier) {
        m_selectionStart = std::min(m_anchor, at);
        m_selectionEnd = std::max(m_anchor, at);
    } else {
        m_anchor = m_selectionStart = m_selectionEnd = at;
    }
    viewport()->update();
}

void TextViewport::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return QAbstractScrollArea::mouseMoveEvent(event);
    const QPoint point = event->position().toPoint();
    // Dragging past the edges scrolls on.
    if (point.y() < 0)
        scrollByPixels(-fontMetrics().height());
    else if (point.y() > viewport()->height())
        scrollByPixels(fontMetrics().height());
    const qint64 at = offsetAt(point);
    m_selectionStart = std::min(m_anchor, at);
    m_selectionEnd = std::max(m_anchor, at);
    viewport()->update();
}

} // namespace corvalen
