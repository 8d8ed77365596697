#include "triaxsimulator.h"

#include "rawpseudoterminal.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// The panel writes each command in one go, so a silence this long ends
// whatever has come of one: a command the operator typed without
// terminator, or one cut short, never leaves the instrument waiting.
constexpr int commandGapMs = 50;
// How often the line is looked at while the panel has the device closed.
// The master reports a hang-up all that time, so a read notifier would
// fire endlessly; a slow poll finds the reopened device in time for the
// panel's first command, which is given at least 200 ms.
constexpr int reopenPollMs = 20;

// Commands starting with one of these end with a carriage return.
bool isLetterCommand(char first)
{
    static const QByteArray letters("BCFGHWXZabcdefghijk");
    return letters.contains(first);
}

// Bytes that cannot begin a typed command are commands by themselves: the
// autobaud byte and the other raw bytes the panel sends alone.
bool isSingleByteCommand(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return byte == ' ' || byte == 'E' || byte == 'A' || value < 0x20 || value >= 0x7f;
}

QByteArray printable(const QByteArray &bytes)
{
    QByteArray text;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (byte == '\r')
            text += "\\r";
        else if (byte == '\\')
            text += "\\\\";
        else if (value >= 0x20 && value < 0x7f)
            text += byte;
        else
            text += "\\x" + QByteArray::number(value, 16).rightJustified(2, '0');
    }
    return text;
}

bool deviceClosed(int descriptor)
{
    pollfd line { descriptor, POLLIN, 0 };
    return poll(&line, 1, 0) > 0 && (line.revents & POLLHUP);
}

} // namespace

TriaxSimulator::TriaxSimulator(const Options &options, QObject *parent)
    : QObject(parent)
    // Switched off and on, a running instrument needs its firmware started.
    , wakeUpState(options.state == TriaxModel::State::Running ? TriaxModel::State::NeedsStart
                                                              : options.state)
    , faults(options.faults)
    , faultHits(options.faults.size(), 0)
    , hangUpTrigger(options.hangUp)
    , restartTrigger(options.restart)
    , faultDelay(options.faultDelay)
    , line(options.baud)
    , latency(options.latency)
    , output(new QTimer(this))
    , commandGap(new QTimer(this))
    , reopenPoll(new QTimer(this))
{
    clock.start();
    instrument.setState(options.state);
    instrument.setGrating(options.grating);
    instrument.setWavelength(options.wavelength);
    instrument.setEntranceSlit(options.entranceSlit);
    instrument.setExitSlit(options.exitSlit);
    instrument.setSpeed(options.speed);

    commandGap->setSingleShot(true);
    commandGap->setInterval(commandGapMs);
    commandGap->setTimerType(Qt::PreciseTimer);
    connect(commandGap, &QTimer::timeout, this, &TriaxSimulator::commandGapElapsed);
    reopenPoll->setInterval(reopenPollMs);
    connect(reopenPoll, &QTimer::timeout, this, &TriaxSimulator::checkReopened);
    output->setSingleShot(true);
    output->setTimerType(Qt::PreciseTimer);
    connect(output, &QTimer::timeout, this, &TriaxSimulator::sendDue);

    openMaster();
    if (isValid())
        openLog(options.logFile);
    if (isValid())
        makeLink(options.link);
    arm(hangUpTrigger, &TriaxSimulator::hangUp);
    arm(restartTrigger, &TriaxSimulator::restart);
}

TriaxSimulator::~TriaxSimulator()
{
    closeLine();
}

void TriaxSimulator::hangUp()
{
    if (master < 0)
        return;
    closeLine();
    logLine("-- line hung up");
    emit hungUp();
}

void TriaxSimulator::closeLine()
{
    if (master < 0)
        return;
    readNotifier->setEnabled(false);
    reopenPoll->stop();
    commandGap->stop();
    output->stop();
    ::close(master);
    master = -1;
    // Only a link that still names this line: a newer simulator may have
    // taken the name over.
    if (!linkName.isEmpty() && QFileInfo(linkName).symLinkTarget() == path)
        QFile::remove(linkName);
}

void TriaxSimulator::restart()
{
    instrument.setState(wakeUpState);
    instrument.stop();
    logLine("-- restarted");
}

void TriaxSimulator::makeLink(const QString &name)
{
    if (name.isEmpty())
        return;
    // A link left behind by an earlier run is replaced; anything else is not
    // the simulator's to remove.
    if (QFileInfo(name).isSymLink())
        QFile::remove(name);
    if (!QFile::link(path, name)) {
        errorText = QStringLiteral("cannot make the link %1 to %2").arg(name, path);
        return;
    }
    linkName = name;
}

void TriaxSimulator::arm(const Trigger &trigger, void (TriaxSimulator::*action)())
{
    if (trigger.unit == Trigger::Milliseconds)
        QTimer::singleShot(trigger.count, Qt::PreciseTimer, this, action);
}

void TriaxSimulator::countCommand()
{
    // The command that reaches the count is the last one the instrument
    // answers before it happens.
    ++commandCount;
    if (restartTrigger.unit == Trigger::Commands && commandCount == restartTrigger.count)
        QMetaObject::invokeMethod(this, &TriaxSimulator::restart, Qt::QueuedConnection);
    if (hangUpTrigger.unit == Trigger::Commands && commandCount == hangUpTrigger.count)
        QMetaObject::invokeMethod(this, &TriaxSimulator::hangUp, Qt::QueuedConnection);
}

void TriaxSimulator::openMaster()
{
    master = openRawPseudoTerminal(&path);
    if (master < 0) {
        errorText = QStringLiteral("cannot open a pseudo-terminal: %1").arg(qt_error_string(errno));
        return;
    }
    readNotifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &TriaxSimulator::readLine);
}

void TriaxSimulator::openLog(const QString &fileName)
{
    if (fileName.isEmpty())
        return;
    bool opened = false;
    if (fileName == QLatin1String("-")) {
        opened = log.open(stderr, QIODevice::WriteOnly);
    } else {
        log.setFileName(fileName);
        opened = log.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    if (!opened)
        errorText
            = QStringLiteral("cannot open the byte log %1: %2").arg(fileName, log.errorString());
}

void TriaxSimulator::readLine()
{
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count > 0) {
            for (ssize_t i = 0; i < count; ++i)
                take(buffer[i]);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            // EIO: no one has the device open any more.
            lineClosed();
            return;
        }
    }
}

void TriaxSimulator::lineClosed()
{
    panelAway = true;
    readNotifier->setEnabled(false);
    // A command cut off by the close went away with the panel that sent it.
    pending.clear();
    commandGap->stop();
    reopenPoll->start();
    logLine("-- device closed");
}

void TriaxSimulator::checkReopened()
{
    if (deviceClosed(master))
        return;
    panelAway = false;
    reopenPoll->stop();
    readNotifier->setEnabled(true);
    logLine("-- device opened");
}

void TriaxSimulator::take(char byte)
{
    if (log.isOpen())
        logLine("rx " + QByteArray(1, byte).toHex() + " '" + printable(QByteArray(1, byte)) + '\'');

    if (pending.isEmpty() && isSingleByteCommand(byte)) {
        const QByteArray command(1, byte);
        frame(command, command, true);
        return;
    }
    pending.append(byte);
    // "O2000" ends with a NUL; nothing but a carriage return ends a letter
    // command, whose arguments are never binary.
    if (byte == '\r' || (byte == '\0' && !isLetterCommand(pending.front()))) {
        commandGap->stop();
        const QByteArray wire = std::exchange(pending, QByteArray());
        frame(wire, wire.chopped(1), true);
        return;
    }
    commandGap->start();
}

void TriaxSimulator::commandGapElapsed()
{
    const QByteArray wire = std::exchange(pending, QByteArray());
    if (wire.isEmpty())
        return;
    // The instrument carries out a letter command at its carriage return
    // only; one cut short is recorded but never answered.
    frame(wire, wire, !isLetterCommand(wire.front()));
}

void TriaxSimulator::frame(const QByteArray &wire, const QByteArray &command, bool answered)
{
    received.append(wire);
    emit commandReceived(wire);
    // The panel's bytes came through the pseudo-terminal at once; on the line
    // the last of them would only now be starting to come in.
    const qint64 heard = clock.nsecsElapsed() + line.transmissionTime(wire.size());
    if (answered)
        respond(command, heard + qint64(latency) * 1000000);
    countCommand();
}

void TriaxSimulator::respond(const QByteArray &command, qint64 due)
{
    const QByteArray answer = instrument.answer(command);
    if (answer.isEmpty())
        return;
    const Fault *fault = nullptr;
    for (qsizetype i = 0; i < faults.size(); ++i) {
        const Fault &candidate = faults.at(i);
        if (!command.startsWith(candidate.prefix))
            continue;
        const int hit = ++faultHits[i];
        if (!fault && (candidate.occurrence == 0 || candidate.occurrence == hit))
            fault = &candidate;
    }
    if (!fault) {
        send(answer, due);
        return;
    }
    const qint64 delayed = due + qint64(faultDelay) * 1000000;
    switch (fault->kind) {
    case Fault::NoAnswer:
        logLine("-- answer withheld: " + printable(answer));
        return;
    case Fault::Garbage:
        send(QByteArrayLiteral("#?"), due);
        return;
    case Fault::Split: {
        const qsizetype half = (answer.size() + 1) / 2;
        send(answer.left(half), due);
        send(answer.mid(half), delayed);
        return;
    }
    case Fault::Late:
        send(answer, delayed);
        return;
    }
}

void TriaxSimulator::send(const QByteArray &bytes, qint64 due)
{
    line.add(bytes, due);
    sendDue();
}

// Writes what the line has carried by now, and wakes up for the next byte.
void TriaxSimulator::sendDue()
{
    const qint64 now = clock.nsecsElapsed();
    write(line.take(now));
    const qint64 next = line.nextDue();
    if (next >= 0 && master >= 0)
        output->start(int((next - now + 999999) / 1000000));
}

void TriaxSimulator::write(const QByteArray &bytes)
{
    if (bytes.isEmpty() || master < 0)
        return;
    // With the device closed the pseudo-terminal would keep the bytes for
    // whoever opens it next, where a serial line loses them.
    if (panelAway || deviceClosed(master)) {
        logLine("-- device closed, answer lost: " + printable(bytes));
        return;
    }
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count
            = ::write(master, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            logLine("-- write failed, answer lost: " + printable(bytes.mid(written)));
            return;
        }
        written += count;
    }
    logLine("tx \"" + printable(bytes) + '"');
    emit bytesSent(bytes);
}

void TriaxSimulator::logLine(const QByteArray &text)
{
    if (!log.isOpen())
        return;
    const double milliseconds = double(clock.nsecsElapsed()) / 1e6;
    log.write(QByteArray::number(milliseconds, 'f', 3).rightJustified(11) + " ms  " + text + '\n');
    log.flush();
}
