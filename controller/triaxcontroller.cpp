#include "triaxcontroller.h"

#include "serialconnection.h"

#include <QDebug>

TriaxController::TriaxController(const QString &device, QObject *parent)
    : QObject(parent)
    , commandLetters { u'B', u'C', u'F', u'G', u'H', u'g', u'h', u'i', u'j', u'k', u'W', u'X', u'a',
        u'b', u'c', u'd', u'e', u'f', u'Z' }
    , m_statusText(statusText(State::Closed))
{
    // 19200 baud, 8 data bits, one stop bit, no parity, no flow control,
    // polling. The port stays closed until someone connects.
    serial = std::make_unique<SerialConnection>(device, 19200, 8, 0, 0, 0, 0);

    connect(this, &TriaxController::checkQueue, this, &TriaxController::readCommandQueue);
    connect(serial.get(), &SerialConnection::endReception, this, &TriaxController::messageReceived);
    connect(serial.get(), &SerialConnection::portLost, this, &TriaxController::portLost);
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

QString TriaxController::devicePath() const
{
    return serial->devicePath();
}

void TriaxController::setVerbose(bool on)
{
    verbose = on;
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
    m_state = state;
    m_statusText = shown;
    emit stateChanged(state);
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
    qWarning("%s", qPrintable(line));
    emit warningLogged(line);
}

void TriaxController::trace(const QString &line)
{
    qDebug("%s", qPrintable(line));
    emit exchangeTraced(line);
}

// The read-back is complete once the answer to its last command has been
// handled; positions count as in commandQueue's bookkeeping.
void TriaxController::queueReadBack(const QList<QString> &commands)
{
    commandQueue.append(commands);
    readBackEnds.append(headPosition + commandQueue.size() - 1);
}

// Called as the head is taken off the queue, answered.
void TriaxController::endReadBack()
{
    if (readBackEnds.isEmpty() || readBackEnds.constFirst() != headPosition)
        return;
    readBackEnds.removeFirst();
    ++m_readBacks;
    emit readBackCompleted(m_readBacks);
    if (readBackEnds.isEmpty() && m_state == State::ReadingBack)
        setState(State::Ready);
}
