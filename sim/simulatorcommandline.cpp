#include "simulatorcommandline.h"

#include <QCommandLineParser>

#include <optional>

namespace {

std::optional<TriaxModel::State> parseState(const QString &text)
{
    if (text == QLatin1String("running"))
        return TriaxModel::State::Running;
    if (text == QLatin1String("start"))
        return TriaxModel::State::NeedsStart;
    if (text == QLatin1String("autobaud"))
        return TriaxModel::State::NeedsAutobaud;
    return std::nullopt;
}

std::optional<TriaxSimulator::Fault> parseFault(QString text)
{
    TriaxSimulator::Fault fault;
    const qsizetype at = text.lastIndexOf(u'@');
    if (at >= 0) {
        bool ok = false;
        fault.occurrence = text.mid(at + 1).toInt(&ok);
        if (!ok || fault.occurrence < 1)
            return std::nullopt;
        text.truncate(at);
    }
    const qsizetype colon = text.indexOf(u':');
    const QString kind = colon < 0 ? text : text.left(colon);
    if (kind == QLatin1String("noanswer"))
        fault.kind = TriaxSimulator::Fault::NoAnswer;
    else if (kind == QLatin1String("garbage"))
        fault.kind = TriaxSimulator::Fault::Garbage;
    else if (kind == QLatin1String("split"))
        fault.kind = TriaxSimulator::Fault::Split;
    else if (kind == QLatin1String("late"))
        fault.kind = TriaxSimulator::Fault::Late;
    else
        return std::nullopt;
    if (colon >= 0) {
        const QString prefix = text.mid(colon + 1);
        // The two one-byte commands that cannot be typed on a command line.
        if (prefix == QLatin1String("space"))
            fault.prefix = QByteArrayLiteral(" ");
        else if (prefix == QLatin1String("autobaud"))
            fault.prefix = QByteArrayLiteral("\xf7");
        else
            fault.prefix = prefix.toLatin1();
    }
    return fault;
}

// "12" counts commands, "1500ms" milliseconds.
std::optional<TriaxSimulator::Trigger> parseTrigger(QString text)
{
    TriaxSimulator::Trigger trigger;
    trigger.unit = TriaxSimulator::Trigger::Commands;
    if (text.endsWith(QLatin1String("ms"))) {
        trigger.unit = TriaxSimulator::Trigger::Milliseconds;
        text.chop(2);
    }
    bool ok = false;
    trigger.count = text.toInt(&ok);
    if (!ok || trigger.count < 1)
        return std::nullopt;
    return trigger;
}

bool readInteger(const QString &text, int lowest, int highest, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= lowest && *value <= highest;
}

} // namespace

SimulatorCommandLine SimulatorCommandLine::fromArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated scanning monochromator on a pseudo-terminal.\n"
        "Prints the serial device to open on the first line of standard output, then\n"
        "answers the panel's commands until it gets SIGTERM or SIGINT.\n"
        "The drive has %1 steps per nm, the slits move from 0 to %2 steps.")
                                         .arg(TriaxModel::stepsPerNanometre)
                                         .arg(TriaxModel::maxSlitWidth));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption stateOption(QStringLiteral("state"),
        QStringLiteral("State at start-up: running (the space is answered F), start (needs "
                       "O2000 and A) or autobaud (needs the byte 247, then as start); running "
                       "when not given."),
        QStringLiteral("state"), QStringLiteral("running"));
    const QCommandLineOption gratingOption(QStringLiteral("grating"),
        QStringLiteral("Grating in place: 0, 1 or 2 (default 0)."), QStringLiteral("n"),
        QStringLiteral("0"));
    const QCommandLineOption wavelengthOption(QStringLiteral("wavelength"),
        QStringLiteral("Wavelength in nm, 0 to %1 (default 500).").arg(TriaxModel::maxWavelength),
        QStringLiteral("nm"), QStringLiteral("500"));
    const QCommandLineOption entranceOption(QStringLiteral("entrance-slit"),
        QStringLiteral("Entrance slit width in steps (default 100)."), QStringLiteral("steps"),
        QStringLiteral("100"));
    const QCommandLineOption exitOption(QStringLiteral("exit-slit"),
        QStringLiteral("Exit slit width in steps (default 100)."), QStringLiteral("steps"),
        QStringLiteral("100"));
    const QCommandLineOption speedOption(QStringLiteral("speed"),
        QStringLiteral("Motor speed in steps per second (default %1); a grating change takes "
                       "as long as %2 steps.")
            .arg(TriaxModel::defaultSpeed)
            .arg(TriaxModel::gratingChangeSteps),
        QStringLiteral("steps/s"), QString::number(TriaxModel::defaultSpeed));
    const QCommandLineOption faultOption(QStringLiteral("fault"),
        QStringLiteral("Inject a fault on answers; repeatable, the first that matches applies. "
                       "KIND is noanswer, garbage (\"#?\"), split (half now, the rest after the "
                       "fault delay) or late (all after the fault delay). PREFIX limits it to "
                       "commands starting with it; space and autobaud stand for the space and "
                       "the byte 247. @N limits it to the N-th such command, a transient fault: "
                       "noanswer:E@2 loses only the answer to the second E."),
        QStringLiteral("KIND[:PREFIX][@N]"));
    const QCommandLineOption hangUpOption(QStringLiteral("hangup"),
        QStringLiteral("Close the line, as an unplugged adapter does, after N commands or N "
                       "milliseconds (Nms), then end."),
        QStringLiteral("N|Nms"));
    const QCommandLineOption restartOption(QStringLiteral("restart"),
        QStringLiteral("Fall back to the state the instrument woke up in (start, when that was "
                       "running), as a power-cycled instrument does, after N commands or N "
                       "milliseconds (Nms); motion stops."),
        QStringLiteral("N|Nms"));
    const QCommandLineOption linkOption(QStringLiteral("link"),
        QStringLiteral("Make PATH a symbolic link to the device, so that the panel finds the "
                       "simulator under the same name each time it starts."),
        QStringLiteral("PATH"));
    const QCommandLineOption delayOption(QStringLiteral("fault-delay"),
        QStringLiteral("Delay of late and split answers in ms (default 300)."),
        QStringLiteral("ms"), QStringLiteral("300"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
        QStringLiteral("Run the line at N baud, ten bits a byte: a command is heard once its "
                       "bytes would have come in, and answers go out byte by byte at that rate "
                       "(default 0: as fast as the pseudo-terminal takes them)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption latencyOption(QStringLiteral("latency"),
        QStringLiteral("Think this many ms after a command before starting its answer "
                       "(default 0)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption logOption(
        QStringLiteral("log"), QStringLiteral("Log every byte received and sent on stderr."));
    const QCommandLineOption logFileOption(QStringLiteral("log-file"),
        QStringLiteral("Log every byte received and sent to this file."), QStringLiteral("file"));
    parser.addOptions({ stateOption, gratingOption, wavelengthOption, entranceOption, exitOption,
        speedOption, faultOption, delayOption, hangUpOption, restartOption, linkOption, baudOption,
        latencyOption, logOption, logFileOption });
    parser.process(arguments);

    SimulatorCommandLine commandLine;
    TriaxSimulator::Options &options = commandLine.options;
    const std::optional<TriaxModel::State> state = parseState(parser.value(stateOption));
    if (!state) {
        commandLine.error = QStringLiteral("--state must be running, start or autobaud");
        return commandLine;
    }
    options.state = *state;

    if (!readInteger(
            parser.value(gratingOption), 0, TriaxModel::gratingCount - 1, &options.grating)) {
        commandLine.error = QStringLiteral("--grating must be 0, 1 or 2");
        return commandLine;
    }
    bool ok = false;
    options.wavelength = parser.value(wavelengthOption).toDouble(&ok);
    if (!ok || !(options.wavelength >= 0 && options.wavelength <= TriaxModel::maxWavelength)) {
        commandLine.error
            = QStringLiteral("--wavelength must be from 0 to %1 nm").arg(TriaxModel::maxWavelength);
        return commandLine;
    }
    if (!readInteger(
            parser.value(entranceOption), 0, TriaxModel::maxSlitWidth, &options.entranceSlit)
        || !readInteger(parser.value(exitOption), 0, TriaxModel::maxSlitWidth, &options.exitSlit)) {
        commandLine.error = QStringLiteral("slit widths must be from 0 to %1 steps")
                                .arg(TriaxModel::maxSlitWidth);
        return commandLine;
    }
    options.speed = parser.value(speedOption).toDouble(&ok);
    if (!ok || !(options.speed >= 1)) {
        commandLine.error = QStringLiteral("--speed must be at least 1 step per second");
        return commandLine;
    }
    if (!readInteger(parser.value(delayOption), 0, 60000, &options.faultDelay)) {
        commandLine.error = QStringLiteral("--fault-delay must be from 0 to 60000 ms");
        return commandLine;
    }
    if (!readInteger(parser.value(baudOption), 0, 4000000, &options.baud)) {
        commandLine.error = QStringLiteral("--baud must be from 0 to 4000000");
        return commandLine;
    }
    if (!readInteger(parser.value(latencyOption), 0, 60000, &options.latency)) {
        commandLine.error = QStringLiteral("--latency must be from 0 to 60000 ms");
        return commandLine;
    }
    for (const QString &text : parser.values(faultOption)) {
        const std::optional<TriaxSimulator::Fault> fault = parseFault(text);
        if (!fault) {
            commandLine.error = QStringLiteral("unknown fault %1").arg(text);
            return commandLine;
        }
        options.faults.append(*fault);
    }
    for (const auto &[option, trigger] : { std::pair { &hangUpOption, &options.hangUp },
             std::pair { &restartOption, &options.restart } }) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<TriaxSimulator::Trigger> parsed = parseTrigger(parser.value(*option));
        if (!parsed) {
            commandLine.error
                = QStringLiteral("--%1 must be a number of commands or of ms (Nms), at least 1")
                      .arg(option->names().constFirst());
            return commandLine;
        }
        *trigger = *parsed;
    }
    options.link = parser.value(linkOption);
    if (parser.isSet(logFileOption))
        options.logFile = parser.value(logFileOption);
    else if (parser.isSet(logOption))
        options.logFile = QStringLiteral("-");

    return commandLine;
}
