// How much time the panel adds to the instrument's mandated waits: the panel
// against the simulated instrument, which runs in a thread of its own and
// notes when each command arrives. The gap between two arrivals, less the
// waiting time of the first command, is the panel's overhead: timer lateness,
// answer handling and writing the next command.

#include "benchtools.h"
#include "simulatorthread.h"
#include "triaxcontroller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>

#include <algorithm>
#include <cstdio>

namespace {

struct Arrival
{
    QByteArray command;
    qint64 nsec;
};

// The panel's waiting time after each kind of command, in milliseconds.
double mandatedWait(const QByteArray &command)
{
    if (command == " " || command.startsWith("O2000"))
        return 500;
    if (command == "A")
        return 90000;
    return 200;
}

struct Phase
{
    QList<Arrival> arrivals;
    qint64 lastReceptionNsec = 0;
};

using BenchTools::median;

double largest(const QList<double> &values)
{
    return *std::max_element(values.cbegin(), values.cend());
}

class Bench
{
public:
    Bench()
        : instrument({},
            [this](TriaxSimulator *simulator) {
                QObject::connect(
                    simulator, &TriaxSimulator::commandReceived, [this](const QByteArray &command) {
                        const QMutexLocker locker(&mutex);
                        arrivals.append({ command, clock.nsecsElapsed() });
                    });
            })
        , controller(std::make_unique<TriaxController>(instrument.simulator()->devicePath()))
    {
        clock.start();
        // A handled answer ends with checkQueue; connected after the
        // controller's own slot, this runs once the next command is written.
        QObject::connect(controller.get(), &TriaxController::checkQueue,
            [this] { lastReception = clock.nsecsElapsed(); });
    }

    bool isValid() const { return instrument.simulator()->isValid(); }
    void close() { controller->closePort(); }

    template<typename Action>
    Phase run(const QString &name, Action action)
    {
        {
            const QMutexLocker locker(&mutex);
            arrivals.clear();
        }
        action(*controller);
        // The action ends by writing its first command.
        const qint64 written = clock.nsecsElapsed();
        const bool done = BenchTools::waitForQueue(controller.get(),
            [this] { return controller->ready() == 1 && controller->queuedCommands().isEmpty(); });
        if (!done)
            std::fprintf(stderr, "%s did not finish\n", qPrintable(name));
        const QMutexLocker locker(&mutex);
        QList<Arrival> seen = arrivals;
        // The simulator notices a reopened line only by polling, so for the
        // first command of a start-up the write is the better time.
        if (!seen.isEmpty())
            seen.first().nsec = written;
        return { seen, lastReception };
    }

private:
    QElapsedTimer clock;
    QMutex mutex;
    QList<Arrival> arrivals;
    qint64 lastReception = 0;
    // The panel goes first, before its instrument.
    SimulatorThread instrument;
    std::unique_ptr<TriaxController> controller;
};

struct Summary
{
    int commands = 0;
    double waitsMs = 0;
    double cycleMs = 0;
    QList<double> overheadsMs;
};

Summary summarise(const Phase &phase)
{
    Summary summary;
    const QList<Arrival> &arrivals = phase.arrivals;
    summary.commands = arrivals.size();
    for (qsizetype i = 0; i < arrivals.size(); ++i) {
        const double wait = mandatedWait(arrivals[i].command);
        summary.waitsMs += wait;
        if (i > 0) {
            const double gap = (arrivals[i].nsec - arrivals[i - 1].nsec) / 1e6;
            summary.overheadsMs.append(gap - mandatedWait(arrivals[i - 1].command));
        }
    }
    if (!arrivals.isEmpty())
        summary.cycleMs = (phase.lastReceptionNsec - arrivals.first().nsec) / 1e6;
    return summary;
}

void printRow(const QString &name, const Summary &summary)
{
    std::printf("| %s | %d | %.0f | %.1f | %.3f | %.3f |\n", qPrintable(name), summary.commands,
        summary.waitsMs, summary.cycleMs, median(summary.overheadsMs),
        largest(summary.overheadsMs));
}

void printTarget(const char *text, double value, double limit)
{
    std::printf("- %s: %.3f — %s\n", text, value, value < limit ? "met" : "NOT MET");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? QByteArray(argv[1]).toInt() : 3;

    Bench bench;
    if (!bench.isValid()) {
        std::fprintf(stderr, "the simulated instrument did not start\n");
        return 1;
    }

    Summary startUps;
    Summary moves;
    const auto add = [](Summary &total, const Summary &one) {
        total.commands += one.commands;
        total.waitsMs += one.waitsMs;
        total.cycleMs += one.cycleMs;
        total.overheadsMs += one.overheadsMs;
    };
    for (int round = 0; round < rounds; ++round) {
        add(startUps, summarise(bench.run("start-up", [](TriaxController &controller) {
            controller.openPort();
        })));
        const double target = round % 2 ? 500.0 : 546.07;
        add(moves, summarise(bench.run("move", [&target](TriaxController &controller) {
            controller.newWavelength(target);
        })));
        bench.close();
    }

    Summary all;
    add(all, startUps);
    add(all, moves);
    std::printf("Instrument dialogue, %d rounds (ms; overhead = gap between commands less the "
                "mandated wait)\n\n",
        rounds);
    std::printf("| cycle | commands | mandated waits | cycle time | overhead median | overhead "
                "max |\n|---|---|---|---|---|---|\n");
    printRow(QStringLiteral("start-up (space, read-back)"), startUps);
    printRow(QStringLiteral("wavelength move (polling, read-back)"), moves);
    printRow(QStringLiteral("all"), all);
    std::printf("\nTargets:\n");
    printTarget("overhead median < 1 ms", median(all.overheadsMs), 1);
    printTarget("overhead max < 5 ms", largest(all.overheadsMs), 5);
    return 0;
}
