// libFuzzer target for the document readers named in CORVALEN_FUZZ_READERS (comma-separated
// reader names). Every input is given to each of those readers as a file: it must read or fail
// cleanly, and a successful text that is not empty must end with a paragraph end.

#include "documents/formatreader.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace corvalen;

namespace {

std::vector<const FormatReader *> chosenReaders()
{
    std::vector<const FormatReader *> out;
    const QStringList names = QStringLiteral(CORVALEN_FUZZ_READERS).split(QLatin1Char(','));
    for (const auto &reader : formatReaders()) {
        if (names.contains(reader->name()))
            out.push_back(reader.get());
    }
    if (out.empty())
        abort(); // a misspelt name would fuzz nothing
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::vector<const FormatReader *> readers = chosenReaders();
    // An anonymous in-memory file, so that the readers see a real file (size, mapping) without
    // touching the disk.
    const int fd = memfd_create("fuzz-input", 0);
    if (fd < 0)
        abort();
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n <= 0)
            abort();
        written += size_t(n);
    }
    for (const FormatReader *reader : readers) {
        lseek(fd, 0, SEEK_SET);
        QFile file;
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            abort();
        (void)reader->recognises(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(std::min<size_t>(size, 8192))));
        QString text;
        const ReadOutcome outcome = reader->read(file, [&](QStringView chunk) { text += chunk; });
        if (outcome.ok() && !text.isEmpty() && !text.endsWith(QChar(13)))
            abort();
    }
    close(fd);
    return 0;
}
