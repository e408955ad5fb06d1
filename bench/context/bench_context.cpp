// The context view on a big file: how soon its first line is shown, how long until every line is
// there, and the longest time the window's event loop went without handling events after the
// first line; then, with every line there, how long until they are shown ordered by the left
// context, and the longest gap in the event loop meanwhile.
//
//   bench_context FILE [WORD]      (run offscreen: QT_QPA_PLATFORM=offscreen)
#include "base/prompter.h"
#include "context/contextwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include <cstdio>

using namespace corvalen;

namespace {

// The view asks nothing while it searches.
class SilentPrompter : public Prompter
{
public:
    void message(const QString &, const QString &, Icon) override { }
    bool askYesNo(const QString &, const QString &, bool) override { return false; }
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override { return {}; }
    QStringList openFiles(const QString &, const QStringList &) override { return {}; }
    QString saveFile(const QString &, const QStringList &) override { return {}; }
    QString pickFolder(const QString &) override { return {}; }
    bool openUrl(const QUrl &) override { return false; }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_context FILE [WORD]\n");
        return 2;
    }
    OccurrenceQuery query;
    query.files = {QString::fromLocal8Bit(argv[1])};
    query.word = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("the");
    SilentPrompter prompter;

    QElapsedTimer clock;
    // Gaps are measured from `since` on (-1: not yet), the longest kept in `gap`.
    qint64 since = -1, lastTick = 0, gap = 0;
    QTimer ticks;
    ticks.setInterval(5);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (since >= 0)
            gap = std::max(gap, now - std::max(lastTick, since));
        lastTick = now;
    });
    clock.start();
    ticks.start();
    // On the heap: the window deletes itself when it is closed, and quitting closes it.
    auto *window = new ContextWindow(query, prompter);
    window->show();
    // From the first line on: opening the window (fonts, first layout) is not the search's.
    qint64 firstLine = -1;
    QObject::connect(window->model(), &QAbstractItemModel::rowsInserted, [&] {
        if (firstLine < 0)
            since = firstLine = clock.elapsed();
    });
    qint64 lines = 0, all = 0, fillGap = 0, orderStart = 0, ordered = 0;
    QObject::connect(window, &ContextWindow::searchFinished, &app, [&] {
        all = clock.elapsed();
        lines = window->model()->rowCount();
        fillGap = gap;
        // Ordered once the last lines have been painted, as a user would.
        QTimer::singleShot(100, window, [&] {
            gap = 0;
            since = orderStart = clock.elapsed();
            window->setOrder(ContextOrder::Left);
        });
    });
    QObject::connect(window, &ContextWindow::orderShown, &app, [&] {
        ordered = clock.elapsed() - orderStart;
        // A tick or two after the order is shown, for the gap of showing it.
        QTimer::singleShot(20, &app, &QCoreApplication::quit);
    });
    app.exec();
    std::printf("first line %lld ms, all %lld lines %lld ms, longest event-loop gap %lld ms; "
                "ordered by left context after %lld ms, longest gap meanwhile %lld ms\n",
                static_cast<long long>(firstLine), static_cast<long long>(lines), static_cast<long long>(all),
                static_cast<long long>(fillGap), static_cast<long long>(ordered), static_cast<long long>(gap));
    return 0;
}
