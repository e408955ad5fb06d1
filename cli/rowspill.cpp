#include "cli/rowspill.h"

#include "base/safefile.h"
#include "engine/twohalves.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryFile>

#include <cstring>

namespace corvalen {

namespace {

constexpr qsizetype kBlockBytes = 1 << 20; // written and read in blocks of this size

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::RowSpill", text);
}

// Reads the spill back through a buffer that always holds a whole record (a word may be longer
// than the buffer: it grows).
class SpillReader
{
public:
    explicit SpillReader(QFile &file)
        : m_file(file), m_size(file.size()), m_buffer(kBlockBytes, Qt::Uninitialized)
    {
    }

    // Makes n bytes readable at the current position; false at the end of the file or when
    // reading fails (failed() tells which).
    bool ensure(qsizetype n)
    {
        if (m_end - m_pos >= n)
            return true;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_pos, size_t(m_end - m_pos));
        m_end -= m_pos;
        m_pos = 0;
        if (m_buffer.size() < n)
            m_buffer.resize(std::max(n, m_buffer.size() * 2));
        while (m_end < n) {
            const qint64 got = m_file.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
            if (got <= 0) {
                m_failed = got < 0;
                return false;
            }
            m_end += got;
        }
        return true;
    }
    bool atEnd() { return !ensure(1); }
    bool failed() const { return m_failed; }

    bool number(quint64 &n)
    {
        n = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (!ensure(1))
                return false;
            const uchar b = uchar(m_buffer.at(m_pos++));
            n |= quint64(b & 0x7f) << shift;
            if (!(b & 0x80))
                return true;
        }
        return false;
    }

    bool text(QString &out)
    {
        quint64 tag = 0;
        if (!number(tag))
            return false;
        const qsizetype units = qsizetype(tag >> 1);
        const bool wide = tag & 1;
        if (units > m_size)
            return false;
        out.resize(units);
        char16_t *d = reinterpret_cast<char16_t *>(out.data());
        // A block at a time: the buffer never has to hold an enormous word whole.
        const qsizetype unitBytes = wide ? 2 : 1;
        for (qsizetype done = 0; done < units;) {
            const qsizetype n = std::min(units - done, kBlockBytes / unitBytes);
            if (!ensure(n * unitBytes))
                return false;
            const char *p = m_buffer.constData() + m_pos;
            if (wide) {
                std::memcpy(d + done, p, size_t(n) * 2);
            } else {
                for (qsizetype i = 0; i < n; ++i)
                    d[done + i] = uchar(p[i]);
            }
            m_pos += n * unitBytes;
            done += n;
        }
        return true;
    }

private:
    QFile &m_file;
    qint64 m_size; // a damaged length must not make the buffer grow without end
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_end = 0;
    bool m_failed = false;
};

} // namespace

// Written without Qt's buffer: the spill writes whole blocks itself, and a write that fails
// part-way must come back with the system's reason, which a buffered flush loses.
class RowSpill::SpillFile : public QTemporaryFile
{
public:
    using QTemporaryFile::QTemporaryFile;
    bool openUnbuffered() { return open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
};

RowSpill::RowSpill(bool fileNameColumn, bool withForms, bool withFiles)
    : m_fileNameColumn(fileNameColumn),
      m_withForms(withForms),
      m_withFiles(withFiles),
      m_widths(fileNameColumn, withFiles)
{
}

RowSpill::~RowSpill() = default;

void RowSpill::setFolder(const QString &folder)
{
    m_folder = folder;
}

bool RowSpill::open()
{
    if (m_file || !m_failure.isEmpty())
        return m_failure.isEmpty();
    m_file = std::make_unique<SpillFile>(QDir(m_folder).filePath(u".corvalen-rows-XXXXXX"_qs));
    if (!m_file->openUnbuffered()) {
        fail(m_file->errorString());
        return false;
    }
    m_buffer.reserve(kBlockBytes + 4096);
    return true;
}

void RowSpill::append(const CountedRows &rows, const QString &fileName)
{
    if (rows.empty())
        return; // a file without words has no rows, so its name widens nothing
    const bool keep = open();
    if (keep) {
        putNumber(quint64(rows.size()));
        if (m_fileNameColumn)
            putText(fileName);
    }
    addWidths(rows, fileName);
    QString scratch;
    for (size_t i = 0; i < rows.size() && keep; ++i) {
        putText(rows.word(i, scratch));
        putNumber(quint64(rows.count(i)));
        if (m_withFiles)
            putNumber(quint64(rows.files(i)));
        if (m_withForms) {
            const std::vector<WordCount> *forms = rows.forms(i).get();
            const size_t n = forms ? forms->size() : 0;
            putNumber(quint64(n));
            for (size_t f = 0; f < n; ++f) {
                putText((*forms)[f].word);
                putNumber(quint64((*forms)[f].count));
            }
        }
        if (m_buffer.size() >= kBlockBytes)
            flushBuffer();
    }
    m_rows += qint64(rows.size());
}

void RowSpill::hold(CountedRows &&rows, const QString &fileName)
{
    Q_ASSERT(m_held.empty() && m_rows == 0);
    if (rows.empty())
        return;
    addWidths(rows, fileName);
    m_rows += qint64(rows.size());
    m_held = std::move(rows);
    if (m_fileNameColumn)
        m_heldName = fileName;
}

void RowSpill::addWidths(const CountedRows &rows, const QString &fileName)
{
    if (const PhraseList::Measures *measured = rows.measures()) {
        qsizetype word = 0;
        for (qsizetype length = 0; length <= CellWidths::kMaxPaddedWordWidth; ++length) {
            if (size_t(length) <= PhraseList::kLongestMeasured && measured->lengths[size_t(length)] > 0)
                word = length;
        }
        m_widths.add(fileName.size(), word, qint64(measured->largestCount), qint64(measured->largestFiles));
        m_total += rows.total();
        return;
    }
    // Millions of rows are measured on both cores; the longest word that sets a width and the
    // largest numbers are found first, and their cells measured once: a number's width grows
    // with it.
    struct Largest
    {
        qsizetype word = 0;
        qint64 count = 0;
        qint64 files = 0;
        qint64 total = 0;
    } halves[2];
    eachHalf(rows.size(), [&](size_t half) {
        const size_t from = half ? rows.size() / 2 : 0, to = half ? rows.size() : rows.size() / 2;
        Largest &largest = halves[half];
        for (size_t i = from; i < to; ++i) {
            const qsizetype length = rows.wordLength(i);
            if (length <= CellWidths::kMaxPaddedWordWidth)
                largest.word = std::max(largest.word, length);
            largest.count = std::max(largest.count, rows.count(i));
            largest.files = std::max(largest.files, rows.files(i));
            largest.total += rows.count(i);
        }
    });
    for (const Largest &largest : halves) {
        m_widths.add(fileName.size(), largest.word, largest.count, largest.files);
        m_total += largest.total;
    }
}

bool RowSpill::finishWriting(QString *reason)
{
    if (m_failure.isEmpty() && m_file)
        flushBuffer();
    if (!m_failure.isEmpty() && reason)
        *reason = m_failure;
    return m_failure.isEmpty();
}

qint64 RowSpill::rowsReadApart() const
{
    const bool held = m_failure.isEmpty() && m_rows == qint64(m_held.size());
    return held ? m_rows : -1;
}

void RowSpill::forEachRowIn(qint64 from, qint64 to, const Visit &visit) const
{
    QString scratch;
    for (size_t i = size_t(from); i < size_t(to); ++i) {
        const std::vector<WordCount> *forms = m_withForms ? m_held.forms(i).get() : nullptr;
        if (!visit({m_heldName, m_held.word(i, scratch), m_held.count(i),
                    forms && !forms->empty() ? forms : nullptr, m_withFiles ? m_held.files(i) : 0, {}, 0}))
            return;
    }
}

void RowSpill::forEachRowInUtf8(qint64 from, qint64 to, const Visit &visit) const
{
    if (!m_held.spellsUtf8() || m_withForms) {
        forEachRowIn(from, to, visit);
        return;
    }
    QByteArray scratch;
    ResultRow row;
    row.fileName = m_heldName;
    for (size_t i = size_t(from); i < size_t(to); ++i) {
        row.wordUtf8 = m_held.wordUtf8(i, scratch, row.wordUnits);
        row.count = m_held.count(i);
        row.files = m_withFiles ? m_held.files(i) : 0;
        if (!visit(row))
            return;
    }
}

bool RowSpill::forEachRow(const Visit &visit, QString *error) const
{
    if (!m_failure.isEmpty()) {
        if (error)
            *error = m_failure;
        return false;
    }
    const auto readFailure = [&](const QString &why) {
        if (error)
            *error = tr("the rows kept in \"%1\" could not be read back: %2")
                             .arg(QDir::toNativeSeparators(m_file->fileName()), why);
        return false;
    };
    // The held rows as the file would give them back: only what it keeps of each.
    bool stopped = false;
    forEachRowIn(0, qint64(m_held.size()), [&](const ResultRow &row) {
        stopped = !visit(row);
        return !stopped;
    });
    if (stopped || !m_file) // no block needed the file
        return true;
    if (!m_file->seek(0))
        return readFailure(m_file->errorString());
    SpillReader in(*m_file);
    QString fileName, word;
    std::vector<WordCount> forms;
    qint64 read = qint64(m_held.size());
    while (!in.atEnd()) {
        quint64 rows = 0;
        if (!in.number(rows) || (m_fileNameColumn && !in.text(fileName)))
            break;
        for (quint64 i = 0; i < rows; ++i) {
            quint64 count = 0;
            quint64 files = 0;
            if (!in.text(word) || !in.number(count) || (m_withFiles && !in.number(files)))
                return readFailure(in.failed() ? m_file->errorString() : tr("it ended early"));
            quint64 formCount = 0;
            if (m_withForms && !in.number(formCount))
                return readFailure(in.failed() ? m_file->errorString() : tr("it ended early"));
            // A damaged number of forms must not make the list grow without end.
            forms.clear();
            for (quint64 f = 0; f < formCount; ++f) {
                QString form;
                quint64 n = 0;
                if (!in.text(form) || !in.number(n))
                    return readFailure(in.failed() ? m_file->errorString() : tr("it ended early"));
                forms.emplace_back(std::move(form), qint64(n));
            }
            ++read;
            if (!visit({fileName, word, qint64(count), formCount ? &forms : nullptr, qint64(files), {}, 0}))
                return true;
        }
    }
    if (in.failed())
        return readFailure(m_file->errorString());
    if (read != m_rows)
        return readFailure(tr("it ended early"));
    return true;
}

void RowSpill::putNumber(quint64 n)
{
    char bytes[10];
    int size = 0;
    do {
        bytes[size++] = char((n & 0x7f) | (n > 0x7f ? 0x80 : 0));
        n >>= 7;
    } while (n != 0);
    m_buffer.append(bytes, size);
}

void RowSpill::putText(QStringView text)
{
    const char16_t *s = text.utf16();
    const qsizetype units = text.size();
    bool narrow = true;
    for (qsizetype i = 0; i < units && narrow; ++i)
        narrow = s[i] < 0x100;
    putNumber(quint64(units) << 1 | (narrow ? 0 : 1));
    // A block at a time: an enormous word never has to be held whole a second time.
    const qsizetype unitBytes = narrow ? 1 : 2;
    for (qsizetype done = 0; done < units && m_failure.isEmpty();) {
        const qsizetype n = std::min(units - done, kBlockBytes / unitBytes);
        const qsizetype at = m_buffer.size();
        if (narrow) {
            m_buffer.resize(at + n);
            char *d = m_buffer.data() + at;
            for (qsizetype i = 0; i < n; ++i)
                d[i] = char(s[done + i]);
        } else {
            m_buffer.append(reinterpret_cast<const char *>(s + done), n * 2);
        }
        done += n;
        if (done < units)
            flushBuffer();
    }
}

void RowSpill::flushBuffer()
{
    if (m_buffer.isEmpty())
        return;
    if (!writeAll(*m_file, m_buffer))
        fail(m_file->errorString());
    m_buffer.resize(0); // keeps its capacity
}

void RowSpill::fail(const QString &reason)
{
    if (!m_failure.isEmpty())
        return;
    m_failure = tr("the rows could not be kept in a temporary file in \"%1\": %2")
                        .arg(QDir::toNativeSeparators(m_folder), reason);
    m_buffer = QByteArray(); // nothing more is written
}

} // namespace corvalen
