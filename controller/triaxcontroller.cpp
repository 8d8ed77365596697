#include "triaxcontroller.h"

#include "commandengine.h"
#include "eventlog.h"
#include "instrumentlog.h"
#include "serialconnection.h"
#include "triaxlimits.h"
#include "triaxprotocol.h"

#include <QDebug>
#include <QLocale>

#include <utility>

namespace {

using Reading = TriaxProtocol::Reading;

// A number as the instrument is sent it: as the operator typed it, when that
// reads as the same number in the instrument's notation, else as the
// operator would type it, with at most six significant digits and no
// trailing zeros.
QString spelled(double value, const QString &typed)
{
    bool ok = false;
    if (!typed.isEmpty() && QLocale::c().toDouble(typed, &ok) == value && ok)
        return typed;
    return QString::number(value, 'g', 6);
}

QString spelled(int value, const QString &typed)
{
    bool ok = false;
    if (!typed.isEmpty() && QLocale::c().toInt(typed, &ok) == value && ok)
        return typed;
    return QString::number(value);
}

// " nm" after a number, nothing for a plain one.
template<typename T>
QString unitAfter(const TriaxLimit<T> &limit)
{
    return *limit.unit ? QLatin1Char(' ') + QLatin1String(limit.unit) : QString();
}

// Why a value is refused by its limit, empty when it is within.
template<typename T>
QString outOfRange(const TriaxLimit<T> &limit, T value)
{
    if (limit.admits(value))
        return QString();
    return QStringLiteral("outside %1 to %2%3, %4")
        .arg(limit.minimum)
        .arg(limit.maximum)
        .arg(unitAfter(limit), QLatin1String(limit.reason));
}

// A request in the controller's words: "wavelength 546.07 nm".
template<typename T>
QString described(const char *name, const TriaxLimit<T> &limit, const QString &written)
{
    return QStringLiteral("%1 %2%3").arg(QLatin1String(name), written, unitAfter(limit));
}

} // namespace

TriaxController::TriaxController(const QString &device, QObject *parent)
    : QObject(parent)
    , eventLog(new EventLog(this))
    // 19200 baud, 8 data bits, one stop bit, no parity, no flow control,
    // polling. The port stays closed until someone connects.
    , serial(std::make_unique<SerialConnection>(device, 19200, 8, 0, 0, 0, 0))
    , engine(std::make_unique<CommandEngine>(serial.get(), TriaxProtocol::kindOf,
          [this](const QString &head, const QByteArray &received) {
              return readAnswer(head, received);
          }))
    , m_statusText(statusText(State::Closed))
{
    connect(serial.get(), &SerialConnection::portLost, this, &TriaxController::portLost);
    connect(engine.get(), &CommandEngine::setAnswered, this, &TriaxController::readBackAnswered);
    connect(engine.get(), &CommandEngine::motionUnconfirmed, this, &TriaxController::showMotorBusy);
    connect(engine.get(), &CommandEngine::gaveUp, this,
        [this](const QString &line) { setFault(State::NoAnswer, line); });
    connect(engine.get(), &CommandEngine::warningLogged, this, &TriaxController::warn);
    connect(engine.get(), &CommandEngine::exchangeTraced, this, &TriaxController::exchangeTraced);
    connect(engine.get(), &CommandEngine::checkQueue, this, &TriaxController::checkQueue);
}

TriaxController::~TriaxController() = default;

QString TriaxController::statusText(State state)
{
    switch (state) {
    case State::Closed:
    case State::WakingUp:
    case State::OpenFailed:
        return QStringLiteral("not ready");
    case State::ReadingBack:
    case State::Ready:
    case State::Moving:
        return QStringLiteral("ready");
    case State::Busy:
        return QStringLiteral("motor busy");
    case State::NoAnswer:
        return QStringLiteral("no answer");
    case State::PortLost:
        return QStringLiteral("port lost");
    }
    return QString();
}

TriaxController::Accepts TriaxController::accepts(State state)
{
    switch (state) {
    case State::Closed:
    case State::WakingUp:
    case State::PortLost:
    case State::OpenFailed:
        return { true, false, false };
    case State::ReadingBack:
    case State::Ready:
        return { false, true, true };
    case State::Moving:
    case State::NoAnswer:
        return { false, true, false };
    case State::Busy:
        break;
    }
    return {};
}

TriaxController::Settling TriaxController::settling() const
{
    switch (m_state) {
    case State::Ready:
        return engine->queuedCommands().isEmpty() ? Settling::Settled : Settling::Pending;
    case State::WakingUp:
    case State::ReadingBack:
    case State::Busy:
    case State::Moving:
        return Settling::Pending;
    case State::Closed:
    case State::NoAnswer:
    case State::PortLost:
    case State::OpenFailed:
        break;
    }
    return Settling::Failed;
}

QString TriaxController::settlingFailure() const
{
    if (settling() != Settling::Failed)
        return QString();
    return m_state == State::Closed ? QStringLiteral("the port is closed") : m_faultReason;
}

QString TriaxController::notTakenNow() const
{
    switch (m_state) {
    case State::ReadingBack:
    case State::Ready:
        return QString();
    case State::Busy:
    case State::Moving:
        return statusText(State::Busy);
    case State::Closed:
        return QStringLiteral("not ready, the port is closed");
    case State::WakingUp:
        return QStringLiteral("not ready, the instrument is waking up");
    case State::NoAnswer:
    case State::PortLost:
    case State::OpenFailed:
        break;
    }
    return QStringLiteral("not ready, ") + m_faultReason;
}

void TriaxController::logRequest(const QString &what, const QString &why, const Requester &by)
{
    const QString asked = by.words.isEmpty() ? what : by.words;
    if (why.isEmpty())
        eventLog->record(EventLog::Kind::Taken, by.origin, asked + QStringLiteral(" taken"));
    else
        eventLog->record(
            EventLog::Kind::Refused, by.origin, QStringLiteral("%1 refused: %2").arg(asked, why));
}

// The state decides before the value: a request that could not be taken now
// is not worth correcting.
template<typename T>
QString TriaxController::verdict(const char *name, const TriaxLimit<T> &limit, T value,
    const QString &written, const Requester &by)
{
    const QString what = described(name, limit, written);
    QString why = notTakenNow();
    if (why.isEmpty())
        why = outOfRange(limit, value);
    logRequest(what, why, by);
    return why.isEmpty() ? QString() : QStringLiteral("%1 refused: %2").arg(what, why);
}

QString TriaxController::devicePath() const
{
    return serial->devicePath();
}

QString TriaxController::wavelengthText() const
{
    const int point = m_wavelengthReading.indexOf(QLatin1Char('.'));
    return point < 0 ? m_wavelengthReading : m_wavelengthReading.left(point + 3);
}

bool TriaxController::isVerbose() const
{
    return engine->isVerbose();
}

void TriaxController::setVerbose(bool on)
{
    engine->setVerbose(on);
}

QList<QString> TriaxController::queuedCommands() const
{
    return engine->queuedCommands();
}

void TriaxController::setAnswerGap(int milliseconds)
{
    serial->setAnswerGap(milliseconds);
}

void TriaxController::setState(State state, const QString &text, const QString &reason)
{
    const QString shown = text.isEmpty() ? statusText(state) : text;
    m_faultReason = reason;
    if (state == m_state && shown == m_statusText)
        return;
    const State before = std::exchange(m_state, state);
    m_statusText = shown;
    recordState(before);
    emit stateChanged(state);
}

// The changes an operator asks about later: connected, busy, ready with the
// values read back, closed. A fault tells its own reason, as a warning.
void TriaxController::recordState(State before)
{
    const auto busy = [](State state) { return state == State::Busy || state == State::Moving; };
    QString text;
    switch (m_state) {
    case State::Closed:
        text = QStringLiteral("closed");
        break;
    case State::WakingUp:
        text = QStringLiteral("connected, waking up");
        break;
    case State::Busy:
    case State::Moving:
        if (!busy(before))
            text = statusText(State::Busy);
        break;
    case State::Ready:
        text = QStringLiteral("ready: %1 nm, position %2, entrance slit %3 steps, exit slit %4 "
                              "steps, grating %5")
                   .arg(m_wavelengthReading.isEmpty() ? QStringLiteral("0") : m_wavelengthReading,
                       m_positionText.isEmpty() ? QStringLiteral("0") : m_positionText)
                   .arg(inSlitSteps())
                   .arg(outSlitSteps())
                   .arg(m_grating);
        break;
    case State::ReadingBack:
    case State::NoAnswer:
    case State::PortLost:
    case State::OpenFailed:
        break;
    }
    if (!text.isEmpty())
        eventLog->record(EventLog::Kind::State, QStringLiteral("instrument"), text);
}

// The reason is in place before the state is announced, so that whoever
// hears of the fault can ask why.
void TriaxController::setFault(State state, const QString &reason, const QString &text)
{
    warn(reason);
    setState(state, text, reason);
}

void TriaxController::warn(const QString &line)
{
    eventLog->record(EventLog::Kind::Warning, QStringLiteral("instrument"), line);
}

void TriaxController::openPort(const Requester &by)
{
    const int opened = serial->openPort();
    logRequest(QStringLiteral("connect"), opened == 1 ? QString() : serial->statusMsg, by);
    if (opened == 1) {
        // Whatever the last connection ended with no longer holds.
        setState(State::WakingUp);
        engine->queueCommand(TriaxProtocol::wakeUpCommand());
        return;
    }
    // Not opened, the link's reason is the status until the next try; open
    // already, the state tells how the instrument is, and stays.
    const QString line
        = QStringLiteral("serial port %1: %2").arg(serial->devicePath(), serial->statusMsg);
    if (opened == 0)
        setFault(State::OpenFailed, line, serial->statusMsg);
    else
        warn(line);
}

void TriaxController::closePort(const Requester &by)
{
    logRequest(QStringLiteral("close"), QString(), by);
    engine->forgetSets();
    setState(State::Closed);
    serial->closePort();
}

bool TriaxController::setDevicePath(const QString &path)
{
    if (path == serial->devicePath())
        return true;
    if (!serial->setDevicePath(path))
        return false;
    emit devicePathChanged(path);
    return true;
}

void TriaxController::portLost(const QString &reason)
{
    engine->dropQueue();
    setFault(State::PortLost,
        QStringLiteral("serial port %1 lost: %2").arg(serial->devicePath(), reason));
}

QString TriaxController::newWavelength(double nanometres, const QString &typed, const Requester &by)
{
    const QString written = spelled(nanometres, typed);
    return take(verdict("wavelength", TriaxLimits::wavelength, nanometres, written, by), written,
        &TriaxController::wavelengthRequested, TriaxProtocol::wavelengthCommand(written));
}

QString TriaxController::moveRelative(int steps, const QString &typed, const Requester &by)
{
    const QString written = spelled(steps, typed);
    return take(verdict("relative move", TriaxLimits::relativeMove, steps, written, by), written,
        &TriaxController::moveRequested, TriaxProtocol::relativeMoveCommand(written));
}

QString TriaxController::newInSlit(int width, const QString &typed, const Requester &by)
{
    const QString written = spelled(width, typed);
    return take(verdict("entrance slit", TriaxLimits::slit, width, written, by), written,
        &TriaxController::inSlitRequested,
        TriaxProtocol::slitMoveCommand(TriaxProtocol::Slit::Entrance, width - inSlitSteps()));
}

QString TriaxController::newOutSlit(int width, const QString &typed, const Requester &by)
{
    const QString written = spelled(width, typed);
    return take(verdict("exit slit", TriaxLimits::slit, width, written, by), written,
        &TriaxController::outSlitRequested,
        TriaxProtocol::slitMoveCommand(TriaxProtocol::Slit::Exit, width - outSlitSteps()));
}

// A request not refused is shown as written, wherever it came from, and its
// motion queued.
QString TriaxController::take(const QString &refused, const QString &written,
    void (TriaxController::*requested)(const QString &), const QString &command)
{
    if (!refused.isEmpty())
        return refused;
    emit(this->*requested)(written);
    askedForMotion();
    engine->queueCommand(command);
    return QString();
}

QString TriaxController::changeGrating(int index, const Requester &by)
{
    const QString refused
        = verdict("grating", TriaxLimits::grating, index, QString::number(index), by);
    if (refused.isEmpty())
        selectGrating(index);
    return refused;
}

void TriaxController::sendCLICommand(const QString &typed, const Requester &by)
{
    // An empty command would write nothing and so never get a reception; at
    // the head of the queue it would hold every later command back for good.
    if (typed.isEmpty())
        return;
    logRequest(QStringLiteral("command \"%1\"").arg(typed), QString(), by);
    engine->queueTyped(typed);
}

// A motion asked for leaves ready at once, before the instrument has seen
// the command, so that no second motion is asked for meanwhile.
void TriaxController::askedForMotion()
{
    showMotorBusy(true);
}

void TriaxController::selectGrating(int index)
{
    askedForMotion();
    m_grating = index;
    emit gratingChanged(index);
    engine->queueCommand(TriaxProtocol::gratingCommand(index));
}

// A quiet motion leaves the panel open, and a panel already locked by
// another motion stays locked.
void TriaxController::showMotorBusy(bool quiet)
{
    if (!quiet)
        setState(State::Busy);
    else if (m_state == State::Ready || m_state == State::ReadingBack)
        setState(State::Moving);
}

// The instrument is ready, after its wake-up or a motion: it shows the
// values it now has.
void TriaxController::becameReady(bool afterMotion)
{
    using After = TriaxProtocol::ReadBackAfter;
    engine->queueSet(TriaxProtocol::readBack(afterMotion ? After::Motion : After::WakeUp));
    setState(State::ReadingBack);
}

// The read-back is complete once the answer to its last command has been
// handled.
void TriaxController::readBackAnswered()
{
    ++m_readBacks;
    emit readBackCompleted(m_readBacks);
    if (!engine->setsPending() && m_state == State::ReadingBack)
        setState(State::Ready);
}

bool TriaxController::readAnswer(const QString &head, const QByteArray &received)
{
    using Meaning = Reading::Meaning;
    const Reading reading = TriaxProtocol::read(head, received);
    switch (reading.meaning) {
    case Meaning::NotUnderstood:
        // The link's own text for a reception without an answer is no strange
        // answer: the silence is told once, by the warning that gives up.
        if (reading.complaint && !received.startsWith("RX_ERROR: "))
            qCDebug(lcInstrument, "%s", reading.complaint);
        return false;
    case Meaning::Other:
        if (engine->isVerbose()) {
            const qint64 elapsed = engine->elapsedSinceSent();
            engine->trace(QStringLiteral("tx: \"%1\" rx: \"%2\"      elapsed time (ms): %3 ")
                              .arg(QString(head).remove(u'\r'),
                                  TriaxProtocol::answerText(received).remove(u'\r'))
                              .arg(elapsed));
        }
        break;
    case Meaning::Next:
        engine->queueCommand(reading.text);
        break;
    case Meaning::Awake:
        becameReady(false);
        break;
    case Meaning::MotionTaken:
    case Meaning::QuietMotionTaken:
        // Polled until the motor stops.
        showMotorBusy(reading.meaning == Meaning::QuietMotionTaken);
        engine->queueCommand(TriaxProtocol::pollCommand());
        break;
    case Meaning::StillMoving:
        engine->queueCommand(TriaxProtocol::pollCommand());
        break;
    case Meaning::MotionEnded:
        becameReady(true);
        break;
    case Meaning::Position:
        m_positionText = reading.text;
        emit positionChanged(m_positionText);
        break;
    case Meaning::Wavelength:
        m_wavelengthReading = reading.text;
        emit wavelengthChanged(wavelengthText());
        break;
    case Meaning::InSlit:
        m_inSlitText = reading.text;
        emit inSlitChanged(m_inSlitText);
        break;
    case Meaning::OutSlit:
        m_outSlitText = reading.text;
        emit outSlitChanged(m_outSlitText);
        break;
    case Meaning::Grating: {
        // An instrument found on another grating than the one last asked for
        // gets that grating selected once more, and the panel's choice and
        // the instrument agree from then on.
        const int found = reading.text.toInt();
        if (found != m_grating)
            selectGrating(found);
        else
            emit gratingChanged(found);
        break;
    }
    }
    return true;
}
