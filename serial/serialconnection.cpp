#include "serialconnection.h"

#include <QFile>
#include <QTimer>

#include <cstddef>

namespace {

// The codes index these tables; an unknown code falls back to the first entry.
constexpr QSerialPort::StopBits stopBitsByCode[]
    = { QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop };
constexpr QSerialPort::Parity parityByCode[] = { QSerialPort::NoParity, QSerialPort::OddParity,
    QSerialPort::EvenParity, QSerialPort::MarkParity, QSerialPort::SpaceParity };
constexpr QSerialPort::FlowControl flowByCode[]
    = { QSerialPort::NoFlowControl, QSerialPort::HardwareControl, QSerialPort::SoftwareControl };

template<typename T, std::size_t N>
T fromCode(const T (&table)[N], int code)
{
    return code >= 0 && std::size_t(code) < N ? table[code] : table[0];
}

} // namespace

// The link is itself never opened as a port: every byte goes through the
// owned `port`, so the controller only ever deals with openPort, transmitMsg
// and rxMsg.
SerialConnection::SerialConnection(const QString &device, int baudRate, int dataBits, int stopBits,
    int parity, int flowControl, int queryMode)
    : timer(new QTimer(this))
    , quiet(new QTimer(this))
    , port(std::make_unique<QSerialPort>(device))
    , portName(device)
    , polling(queryMode == Polling)
{
    port->setBaudRate(baudRate);
    port->setDataBits(static_cast<QSerialPort::DataBits>(dataBits));
    port->setStopBits(fromCode(stopBitsByCode, stopBits));
    port->setParity(fromCode(parityByCode, parity));
    port->setFlowControl(fromCode(flowByCode, flowControl));

    connect(port.get(), &QSerialPort::errorOccurred, this, &SerialConnection::portError);

    timer->setSingleShot(true);
    // A coarse timer may end a reception up to 5 % early: the instrument is
    // owed its whole waiting time.
    timer->setTimerType(Qt::PreciseTimer);
    quiet->setSingleShot(true);
    quiet->setTimerType(Qt::PreciseTimer);
    if (polling) {
        // An answer is whatever has arrived when the waiting time ends, so
        // arriving bytes are not looked at before the timer fires, unless an
        // answer gap lets a complete answer end its reception sooner.
        connect(timer, &QTimer::timeout, this, &SerialConnection::readMsg);
        connect(port.get(), &QSerialPort::readyRead, this, &SerialConnection::bytesArrived);
        connect(quiet, &QTimer::timeout, this, &SerialConnection::quietElapsed);
    } else {
        connect(port.get(), &QSerialPort::readyRead, this, &SerialConnection::readMsg);
        connect(timer, &QTimer::timeout, this, &SerialConnection::communicationsTimeout);
    }
}

SerialConnection::~SerialConnection() = default;

int SerialConnection::openPort()
{
    if (port->isOpen()) {
        statusMsg = QStringLiteral("port already opened");
        return 2;
    }
    if (port->open(QIODevice::ReadWrite)) {
        statusMsg = port->errorString();
        return 1;
    }
    statusMsg = QFile::exists(portName) ? port->errorString()
                                        : QStringLiteral("file not found: %1").arg(portName);
    return 0;
}

void SerialConnection::closePort()
{
    port->close();
}

bool SerialConnection::setDevicePath(const QString &device)
{
    if (port->isOpen())
        return false;
    port->setPortName(device);
    portName = device;
    return true;
}

bool SerialConnection::isPortOpen() const
{
    return port->isOpen();
}

void SerialConnection::setAnswerGap(int milliseconds)
{
    gap = qMax(0, milliseconds);
}

// A device that has gone away makes the port report an error on every turn
// of the event loop, so the port is closed. Not at once: the port may be in
// the middle of its own read or write, which must not find itself closed.
void SerialConnection::portError(QSerialPort::SerialPortError error)
{
    const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError
        || error == QSerialPort::WriteError;
    if (!gone || losing || !port->isOpen())
        return;
    losing = true;
    // A read that finds the line hung up returns nothing, and the port then
    // describes whatever error happened last: say what is known instead.
    const QString reason = error == QSerialPort::ReadError
        ? QStringLiteral("reading from the device failed")
        : port->errorString();
    QMetaObject::invokeMethod(
        this, [this, reason] { losePort(reason); }, Qt::QueuedConnection);
}

void SerialConnection::losePort(const QString &reason)
{
    losing = false;
    // The operator may have closed the port meanwhile.
    if (!port->isOpen())
        return;
    timer->stop();
    quiet->stop();
    awaited = nullptr;
    port->close();
    emit portLost(reason);
}

void SerialConnection::flush()
{
    port->clear(QSerialPort::AllDirections);
}

void SerialConnection::transmitMsg(
    const QString &command, const QString &terminator, int timeout, AnswerShape shape)
{
    if (command.isEmpty())
        return;
    send((command + terminator).toLatin1(), timeout, shape);
}

void SerialConnection::transmitMsg(const char *data, int size, int timeout, AnswerShape shape)
{
    send(QByteArray(data, size), timeout, shape);
}

void SerialConnection::transmitMsg(
    const QByteArray &data, const QByteArray &terminator, int timeout, AnswerShape shape)
{
    if (data.isEmpty())
        return;
    send(data + terminator, timeout, shape);
}

void SerialConnection::transmitMsg(const QByteArray &data, int timeout, AnswerShape shape)
{
    if (data.isEmpty())
        return;
    send(data, timeout, shape);
}

void SerialConnection::send(const QByteArray &bytes, int timeout, AnswerShape shape)
{
    // A write re-arms the reception from the start, as the timer's restart does.
    quiet->stop();
    awaited = nullptr;
    // A closed port is checked here rather than left to write(), which would
    // also print a warning of its own for every command drained after close.
    if (!port->isOpen()) {
        rxMsg = QByteArrayLiteral("TX_ERROR: device not open");
        emit endReception();
        return;
    }
    if (port->write(bytes) == -1) {
        rxMsg = "TX_ERROR: " + port->errorString().toLatin1();
        emit endReception();
        return;
    }
    // Hand the bytes to the device now, so that the waiting time starts when
    // they leave rather than when the event loop next runs.
    port->flush();
    if (timeout == 0)
        return;
    if (polling && gap > 0)
        awaited = shape;
    timer->start(timeout);
}

// Only bytes that come after the write start the gap: input left over from
// an earlier answer must not end this reception before its own answer.
void SerialConnection::bytesArrived()
{
    if (awaited && timer->isActive())
        quiet->start(gap);
}

void SerialConnection::quietElapsed()
{
    if (!awaited || !timer->isActive() || !port->isOpen())
        return;
    // Bytes the device already holds, which the event loop has not handed
    // over yet, came within the gap.
    const qint64 before = port->bytesAvailable();
    port->waitForReadyRead(0);
    if (port->bytesAvailable() > before) {
        quiet->start(gap);
        return;
    }
    // Not an answer yet: the rest may still come, and the waiting time
    // decides as it always has.
    if (!awaited(port->peek(port->bytesAvailable())))
        return;
    timer->stop();
    readMsg();
}

void SerialConnection::readMsg()
{
    quiet->stop();
    awaited = nullptr;
    rxMsg.clear();
    // Take in what the device has received up to this very moment; the event
    // loop may not have moved it into the port's buffer yet.
    if (polling && port->isOpen())
        port->waitForReadyRead(0);
    const qint64 available = port->bytesAvailable();
    if (available > 0)
        rxMsg = port->read(available);
    else if (available == 0)
        rxMsg = QByteArrayLiteral("RX_ERROR: empty answer/timeout ?");
    else
        rxMsg = "RX_ERROR: " + port->errorString().toLatin1();
    emit endReception();
}

void SerialConnection::communicationsTimeout()
{
    rxMsg = QByteArrayLiteral("RX_ERROR: reception timeout");
    emit receptionTimeout();
}
