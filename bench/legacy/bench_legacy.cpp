// Reads each document given with the reader that recognises it and prints, per file, the reader,
// the size of the extracted text (UTF-8 bytes), the best wall and CPU time of RUNS reads and the
// resulting MB/s. Only reading is timed; the text is not counted.
//
//   bench_legacy [--runs N] FILE...

#include "documents/formatreader.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace corvalen;

namespace {

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

qint64 utf8Bytes(QStringView s)
{
    qint64 n = 0;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        n += u < 0x80 ? 1 : u < 0x800 ? 2 : (u >= 0xD800 && u < 0xE000) ? 2 : 3;
    }
    return n;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 3;
    int first = 1;
    if (argc > 2 && qstrcmp(argv[1], "--runs") == 0) {
        runs = std::max(1, atoi(argv[2]));
        first = 3;
    }
    std::printf("file\treader\ttext_MB\twall_s\tcpu_s\tMB_per_s_wall\tMB_per_s_cpu\n");
    int status = 0;
    for (int i = first; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s: cannot open\n", argv[i]);
            status = 1;
            continue;
        }
        const QByteArray head = probe.read(8192);
        probe.close();
        const FormatReader *reader = nullptr;
        for (const auto &r : formatReaders()) {
            if (r->recognises(head)) {
                reader = r.get();
                break;
            }
        }
        if (!reader)
            continue;
        // The text's size is measured in an untimed read, so that the timed sinks do nothing.
        qint64 bytes = 0;
        {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return 1;
            reader->read(file, [&](QStringView chunk) { bytes += utf8Bytes(chunk); });
        }
        double bestWall = 1e30, bestCpu = 1e30;
        for (int run = 0; run < runs; ++run) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return 1;
            qint64 n = 0;
            QElapsedTimer timer;
            const double cpu0 = cpuSeconds();
            timer.start();
            const ReadOutcome outcome = reader->read(file, [&](QStringView chunk) { n += chunk.size(); });
            const double wall = double(timer.nsecsElapsed()) / 1e9;
            const double cpu = cpuSeconds() - cpu0;
            if (!outcome.ok()) {
                std::fprintf(stderr, "%s: %s\n", argv[i], qPrintable(describeReadError(outcome, path)));
                status = 1;
                break;
            }
            Q_UNUSED(n);
            bestWall = std::min(bestWall, wall);
            bestCpu = std::min(bestCpu, cpu);
        }
        const double mb = double(bytes) / 1e6;
        std::printf("%s\t%s\t%.1f\t%.3f\t%.3f\t%.0f\t%.0f\n", argv[i], qPrintable(reader->name()), mb, bestWall, bestCpu,
                    mb / bestWall, mb / std::max(bestCpu, 1e-9));
    }
    return status;
}
