// The panel under remote load: the whole panel with no instrument, its remote control on
// PORT, and a 10 ms timer whose lateness shows how long the event loop is kept from the
// operator. Driven over standard input, so that the load can come from another process:
//   "report" prints   rss_kb N worst_late_ms X timer_ticks T
//   "reset"  starts a new lateness measurement
//
//   panelbench PORT

#include "triaxcontroller.h"
#include "widgettriax.h"
#include "xmlrpcserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int TimerInterval = 10;

long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("monopanel.*.debug=false"));
    const int port = argc > 1 ? QByteArray(argv[1]).toInt() : 8086;
    TriaxController controller(QStringLiteral("/nonexistent/tty"));
    ServerXmlRPC remoteApi(&controller, port);
    WidgetTriax panel(&controller, QString::number(remoteApi.serverPort()));
    panel.setVisible(true);

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worstLateness = 0;
    long ticks = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worstLateness = std::max(worstLateness, now - last - TimerInterval * 1000000LL);
        last = now;
        ++ticks;
    });
    const auto reset = [&] {
        last = clock.nsecsElapsed();
        worstLateness = 0;
        ticks = 0;
        timer.start(TimerInterval);
    };
    reset();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64];
        if (!std::fgets(line, sizeof line, stdin)) {
            QApplication::quit();
            return;
        }
        if (qstrncmp(line, "reset", 5) == 0) {
            reset();
        } else if (qstrncmp(line, "report", 6) == 0) {
            std::printf("rss_kb %ld worst_late_ms %.2f timer_ticks %ld\n", residentKilobytes(),
                double(worstLateness) / 1e6, ticks);
            std::fflush(stdout);
        }
    });
    return app.exec();
}
