#include "engine/countedrows.h"

#include "engine/twohalves.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <numeric>
#include <thread>

namespace corvalen {

qsizetype PhraseList::textLength(size_t i) const
{
    size_t r[kMaxLength];
    ranks(i, r);
    qsizetype n = length - 1;
    for (int w = 0; w < length; ++w) {
        const quint16 k = w + 1 < length ? bySpaceLength[r[w]] : byTextLength[r[w]];
        n += k != kLongWord ? k : qsizetype((w + 1 < length ? bySpace[r[w]] : byText[r[w]]).size());
    }
    return n;
}

void PhraseList::spell(size_t i, QString &out) const
{
    std::u16string_view w[kMaxLength];
    words(i, w);
    qsizetype n = length - 1;
    for (int k = 0; k < length; ++k)
        n += qsizetype(w[k].size());
    // Copied in blocks of 8 units, the last of a word running into what follows (the text's
    // slack, the room at the end of out): most words are short, and a call to copy each costs
    // more than the copy.
    constexpr size_t kBlock = 8;
    out.resize(n + qsizetype(kBlock));
    auto *at = reinterpret_cast<char16_t *>(out.data());
    for (int k = 0; k < length; ++k) {
        if (k > 0)
            *at++ = u' ';
        const char16_t *from = w[k].data();
        for (size_t done = 0; done < w[k].size(); done += kBlock)
            std::memcpy(at + done, from + done, kBlock * sizeof(char16_t));
        at += w[k].size();
    }
    out.truncate(n);
}


QByteArrayView PhraseList::spellUtf8(size_t i, QByteArray &out, qsizetype &units) const
{
    size_t r[kMaxLength];
    ranks(i, r);
    const Utf8Word *w[kMaxLength];
    qsizetype bytes = length - 1;
    units = length - 1;
    for (int k = 0; k < length; ++k) {
        w[k] = &utf8Word(r[k], k + 1 < length);
        bytes += w[k]->bytes;
        units += w[k]->units;
    }
    // Copied in blocks of 16 bytes, as spell() copies: the last of a word runs into the text's
    // slack (or the rest of its record) and the room at the end of out.
    constexpr qsizetype kBlock = 16;
    if (out.size() < bytes + kBlock)
        out.resize(std::max(bytes + kBlock, 2 * out.size()));
    char *at = out.data();
    for (int k = 0; k < length; ++k) {
        if (k > 0)
            *at++ = ' ';
        if (w[k]->bytes <= Utf8Word::kInline) {
            std::memcpy(at, w[k], kBlock); // the record whole: what follows the word is written over
        } else {
            quint32 offset;
            std::memcpy(&offset, w[k]->text, sizeof offset);
            const char *from = text8.data() + offset;
            for (qsizetype done = 0; done < w[k]->bytes; done += kBlock)
                std::memcpy(at + done, from + done, kBlock);
        }
        at += w[k]->bytes;
    }
    return QByteArrayView(out.constData(), bytes);
}

const std::shared_ptr<const std::vector<WordCount>> &CountedRows::forms(size_t row) const
{
    static const std::shared_ptr<const std::vector<WordCount>> none;
    return m_phrases ? none : m_rows[row].forms;
}

qint64 CountedRows::total() const
{
    qint64 sum = 0;
    if (!m_phrases) {
        for (const WordCount &w : m_rows)
            sum += w.count;
        return sum;
    }
    if (m_size == m_phrases->size())
        return m_phrases->total;
    for (size_t row = 0; row < m_size; ++row)
        sum += qint64(m_phrases->counts[phrase(row)]);
    return sum;
}

void CountedRows::spellOutOrder()
{
    if (!m_inListOrder)
        return;
    m_order.resize(m_size);
    std::iota(m_order.begin(), m_order.end(), 0u);
    m_inListOrder = false;
}

void CountedRows::keepCountsFrom(qint64 least)
{
    if (m_phrases) {
        spellOutOrder();
        std::erase_if(m_order, [&](quint32 i) { return qint64(m_phrases->counts[i]) < least; });
        m_size = m_order.size();
    } else
        std::erase_if(m_rows, [&](const WordCount &w) { return w.count < least; });
}

void CountedRows::truncate(size_t rows)
{
    if (rows >= size())
        return;
    if (m_phrases) {
        m_size = rows;
        if (!m_inListOrder)
            m_order.resize(rows);
    } else {
        m_rows.resize(rows);
    }
}

void CountedRows::reorder(const std::vector<size_t> &order)
{
    if (m_phrases) {
        std::vector<quint32> reordered(order.size());
        for (size_t i = 0; i < order.size(); ++i)
            reordered[i] = quint32(phrase(order[i]));
        m_order.swap(reordered);
        m_inListOrder = false;
        m_size = m_order.size();
        return;
    }
    std::vector<WordCount> reordered(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        reordered[i] = std::move(m_rows[order[i]]);
    m_rows.swap(reordered);
}

std::vector<WordCount> CountedRows::takeRows()
{
    if (!m_phrases)
        return std::exchange(m_rows, {});
    std::vector<WordCount> rows(m_size);
    const auto spell = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            const size_t p = phrase(i);
            m_phrases->spell(p, rows[i].word);
            rows[i].count = qint64(m_phrases->counts[p]);
            rows[i].files = m_phrases->files.empty() ? 0 : m_phrases->files[p];
        }
    };
    inTwoHalves(rows.size(), spell); // millions of strings: made on both cores
    m_phrases.reset();
    m_order = {};
    m_inListOrder = false;
    m_size = 0;
    return rows;
}

} // namespace corvalen
