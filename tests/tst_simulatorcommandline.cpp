#include "simulatorcommandline.h"

#include <QTest>

#include <utility>

namespace {

// The options that differ from a simulator's defaults, so that a row names only what its
// arguments change.
QStringList changed(const TriaxSimulator::Options &options)
{
    // In the order of their enumerations.
    const char *const states[] = { "autobaud", "start", "running" };
    const char *const faults[] = { "noanswer", "garbage", "split", "late" };
    const char *const units[] = { "never", "commands", "ms" };
    const TriaxSimulator::Options defaults;
    QStringList words;
    const auto add = [&words](bool differs, const char *name, auto value) {
        if (differs)
            words << QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(value);
    };
    add(options.state != defaults.state, "state", QLatin1String(states[int(options.state)]));
    add(options.grating != defaults.grating, "grating", options.grating);
    add(options.wavelength != defaults.wavelength, "wavelength", options.wavelength);
    add(options.entranceSlit != defaults.entranceSlit, "entrance", options.entranceSlit);
    add(options.exitSlit != defaults.exitSlit, "exit", options.exitSlit);
    add(options.speed != defaults.speed, "speed", options.speed);
    add(options.faultDelay != defaults.faultDelay, "fault delay", options.faultDelay);
    add(options.baud != defaults.baud, "baud", options.baud);
    add(options.latency != defaults.latency, "latency", options.latency);
    add(!options.link.isEmpty(), "link", options.link);
    add(!options.logFile.isEmpty(), "log", options.logFile);
    for (const TriaxSimulator::Fault &fault : options.faults) {
        words << QStringLiteral("fault %1 \"%2\" %3")
                     .arg(QLatin1String(faults[fault.kind]))
                     .arg(QString::fromLatin1(fault.prefix.toPercentEncoding()))
                     .arg(fault.occurrence);
    }
    for (const auto &[name, trigger] :
        { std::pair { "hangup", options.hangUp }, std::pair { "restart", options.restart } }) {
        add(trigger.unit != TriaxSimulator::Trigger::Never, name,
            QStringLiteral("%1 %2").arg(trigger.count).arg(QLatin1String(units[trigger.unit])));
    }
    return words;
}

} // namespace

// triaxsim's options: what each sets, and the words that refuse a value.
class TestSimulatorCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void options_data();
    void options();
};

void TestSimulatorCommandLine::options_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QStringList>("changed");
    QTest::addColumn<QString>("error");

    const auto row = [](const char *arguments, const QStringList &changed, const char *error = "") {
        QTest::newRow(arguments) << QString::fromLatin1(arguments) << changed
                                 << QString::fromLatin1(error);
    };
    row("", {});
    row("--state start", { "state start" });
    row("--state autobaud", { "state autobaud" });
    row("--state off", {}, "--state must be running, start or autobaud");
    row("--grating 2", { "grating 2" });
    row("--grating 3", {}, "--grating must be 0, 1 or 2");
    row("--wavelength 1500", { "wavelength 1500" });
    row("--wavelength 1500.1", {}, "--wavelength must be from 0 to 1500 nm");
    row("--wavelength nan", {}, "--wavelength must be from 0 to 1500 nm");
    row("--entrance-slit 0 --exit-slit 1400", { "entrance 0", "exit 1400" });
    row("--exit-slit 1401", {}, "slit widths must be from 0 to 1400 steps");
    row("--speed 1 --fault-delay 0", { "speed 1", "fault delay 0" });
    row("--speed 0.5", {}, "--speed must be at least 1 step per second");
    row("--fault-delay 60001", {}, "--fault-delay must be from 0 to 60000 ms");
    row("--baud 19200 --latency 3", { "baud 19200", "latency 3" });
    row("--baud -1", {}, "--baud must be from 0 to 4000000");
    row("--latency 1x", {}, "--latency must be from 0 to 60000 ms");
    // The first fault that matches applies, so their order is kept.
    row("--fault noanswer:E@2 --fault garbage --fault split:space --fault late:autobaud",
        { "fault noanswer \"E\" 2", "fault garbage \"\" 0", "fault split \"%20\" 0",
            "fault late \"%F7\" 0" });
    row("--fault lost", {}, "unknown fault lost");
    row("--fault noanswer@0", {}, "unknown fault noanswer@0");
    row("--hangup 12 --restart 1500ms", { "hangup 12 commands", "restart 1500 ms" });
    row("--hangup 0", {}, "--hangup must be a number of commands or of ms (Nms), at least 1");
    row("--link /tmp/triax --log", { "link /tmp/triax", "log -" });
    row("--log --log-file sim.log", { "log sim.log" });
}

void TestSimulatorCommandLine::options()
{
    QFETCH(QString, arguments);
    QFETCH(QStringList, changed);
    QFETCH(QString, error);

    const SimulatorCommandLine commandLine = SimulatorCommandLine::fromArguments(
        QStringList(QStringLiteral("triaxsim")) + arguments.split(u' ', Qt::SkipEmptyParts));
    QCOMPARE(commandLine.error, error);
    if (error.isEmpty())
        QCOMPARE(::changed(commandLine.options), changed);
}

QTEST_GUILESS_MAIN(TestSimulatorCommandLine)
#include "tst_simulatorcommandline.moc"
