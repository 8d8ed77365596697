// The scan step at the speed of the line: a wavelength scan of 20 points on
// the simulated instrument at 19200 baud, which thinks a few ms before each
// answer, with the fixed waits and with the answer gap. For each point: from
// the set until the new wavelength has been read back, and until the whole
// read-back is in, when the instrument takes the next request. Beside them
// the line's own limit: the bytes of the step both ways at 19200 baud, ten
// bits a byte, plus the instrument's latency for each exchange.

#include "benchtools.h"
#include "simulatorthread.h"
#include "triaxcontroller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>

#include <cstdio>
#include <utility>

namespace {

constexpr int baud = 19200;
constexpr int latencyMs = 3;
constexpr int points = 20;
constexpr double firstWavelength = 500.0;
constexpr double stepNm = 0.5;

// What went over the line from the start of a step.
struct LineUse
{
    int exchanges = 0;
    qint64 bytes = 0;

    double limitMs() const { return bytes * 10 * 1000.0 / baud + exchanges * latencyMs; }
};

struct Step
{
    double toWavelengthMs = 0;
    double toCompleteMs = 0;
    LineUse toWavelength;
    LineUse toComplete;
    bool readBackRight = false;
};

using BenchTools::median;

// One instrument and one panel: the simulator runs in a thread of its own,
// as an instrument would, and counts the bytes both ways.
class Scan
{
public:
    explicit Scan(int answerGapMs)
        : instrument(options(),
            [this](TriaxSimulator *simulator) {
                QObject::connect(
                    simulator, &TriaxSimulator::commandReceived, [this](const QByteArray &command) {
                        const QMutexLocker locker(&mutex);
                        ++used.exchanges;
                        used.bytes += command.size();
                    });
                QObject::connect(
                    simulator, &TriaxSimulator::bytesSent, [this](const QByteArray &bytes) {
                        const QMutexLocker locker(&mutex);
                        used.bytes += bytes.size();
                    });
            })
        , controller(std::make_unique<TriaxController>(instrument.simulator()->devicePath()))
    {
        controller->setAnswerGap(answerGapMs);
    }

    bool connect()
    {
        controller->openPort();
        return waitFor(TriaxController::State::Ready);
    }

    Step step(double target)
    {
        const QString expected = QString::number(target, 'f', 2);
        Step step;
        QElapsedTimer clock;
        takeLineUse();
        clock.start();
        const QMetaObject::Connection seen = QObject::connect(
            controller.get(), &TriaxController::wavelengthChanged, [&](const QString &text) {
                if (text != expected || step.toWavelengthMs > 0)
                    return;
                step.toWavelengthMs = clock.nsecsElapsed() / 1e6;
                step.toWavelength = lineUse();
            });
        // As a remote client sets it: at most six significant digits.
        controller->newWavelength(target);
        const bool done = waitFor(TriaxController::State::Ready);
        step.toCompleteMs = clock.nsecsElapsed() / 1e6;
        step.toComplete = takeLineUse();
        QObject::disconnect(seen);
        step.readBackRight = done && controller->wavelengthText() == expected;
        return step;
    }

private:
    static TriaxSimulator::Options options()
    {
        TriaxSimulator::Options options;
        options.baud = baud;
        options.latency = latencyMs;
        options.wavelength = firstWavelength;
        return options;
    }

    bool waitFor(TriaxController::State state)
    {
        return BenchTools::waitForQueue(controller.get(), [this, state] {
            return controller->state() == state && controller->queuedCommands().isEmpty();
        });
    }

    LineUse lineUse()
    {
        const QMutexLocker locker(&mutex);
        return used;
    }

    LineUse takeLineUse()
    {
        const QMutexLocker locker(&mutex);
        return std::exchange(used, LineUse());
    }

    QMutex mutex;
    LineUse used;
    // The panel goes first, before its instrument.
    SimulatorThread instrument;
    std::unique_ptr<TriaxController> controller;
};

struct Result
{
    QString name;
    int gapMs = 0;
    double toWavelengthMs = 0;
    double toCompleteMs = 0;
    double limitToWavelengthMs = 0;
    double limitToCompleteMs = 0;
    double exchanges = 0;
    int wrong = 0;

    double limitAndGapsMs() const { return limitToCompleteMs + exchanges * gapMs; }
};

Result scan(const QString &name, int gapMs)
{
    Result result { name, gapMs };
    Scan scan(gapMs);
    if (!scan.connect()) {
        std::fprintf(stderr, "%s: the instrument did not get ready\n", qPrintable(name));
        result.wrong = points;
        return result;
    }
    QList<double> toWavelength, toComplete, limitToWavelength, limitToComplete, exchanges;
    for (int point = 1; point <= points; ++point) {
        const Step step = scan.step(firstWavelength + point * stepNm);
        toWavelength.append(step.toWavelengthMs);
        toComplete.append(step.toCompleteMs);
        limitToWavelength.append(step.toWavelength.limitMs());
        limitToComplete.append(step.toComplete.limitMs());
        exchanges.append(step.toComplete.exchanges);
        if (!step.readBackRight)
            ++result.wrong;
    }
    result.toWavelengthMs = median(toWavelength);
    result.toCompleteMs = median(toComplete);
    result.limitToWavelengthMs = median(limitToWavelength);
    result.limitToCompleteMs = median(limitToComplete);
    result.exchanges = median(exchanges);
    return result;
}

void printTarget(const QString &text, bool met)
{
    std::printf("- %s: %s\n", qPrintable(text), met ? "met" : "NOT MET");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    const QList<Result> results { scan(QStringLiteral("fixed waits"), 0),
        scan(QStringLiteral("answer gap 25 ms (recommended)"), 25),
        scan(QStringLiteral("answer gap 10 ms"), 10) };

    std::printf("Scan step, %d points of %.1f nm from %.1f nm, %d baud, %d ms latency (ms, "
                "medians)\n\n",
        points, stepNm, firstWavelength, baud, latencyMs);
    std::printf("| waits | set → wavelength read back | set → read-back complete | exchanges | "
                "line limit, to wavelength | line limit, complete | line limit + gaps | "
                "wrong read-backs |\n|---|---|---|---|---|---|---|---|\n");
    for (const Result &result : results) {
        // Only the gap adds its wait to the line's time.
        const QString withGaps
            = result.gapMs > 0 ? QString::number(result.limitAndGapsMs(), 'f', 1) : QString();
        std::printf("| %s | %.1f | %.1f | %.0f | %.1f | %.1f | %s | %d |\n",
            qPrintable(result.name), result.toWavelengthMs, result.toCompleteMs, result.exchanges,
            result.limitToWavelengthMs, result.limitToCompleteMs, qPrintable(withGaps),
            result.wrong);
    }

    const Result &fixed = results.at(0);
    const Result &recommended = results.at(1);
    const Result &short10 = results.at(2);
    const double speedUp = fixed.toCompleteMs / recommended.toCompleteMs;
    const double toLimit = short10.toCompleteMs / short10.limitAndGapsMs();
    std::printf("\nTargets:\n");
    printTarget(QStringLiteral("25 ms gap at least 4 × faster than the fixed waits (%1 ×)")
                    .arg(speedUp, 0, 'f', 1),
        speedUp >= 4);
    printTarget(QStringLiteral("10 ms gap within 2 × the line limit plus gaps (%1 ×)")
                    .arg(toLimit, 0, 'f', 2),
        toLimit <= 2);
    printTarget(QStringLiteral("every point reads back its wavelength"),
        fixed.wrong + recommended.wrong + short10.wrong == 0);
    return 0;
}
