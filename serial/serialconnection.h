#ifndef SERIALCONNECTION_H
#define SERIALCONNECTION_H

#include <QByteArray>
#include <QSerialPort>
#include <QString>

#include <memory>

class QTimer;

// The only path to the instrument. One command is written at a time; a fixed
// waiting time after each write, whatever the instrument has sent back is the
// answer. The instrument has no end-of-answer character, so the waiting time
// alone delimits an answer.
//
// With an answer gap, a command written together with the shape of its
// complete answer may end sooner: as soon as what has arrived has that shape
// and the line has been quiet for the gap. What never takes the shape still
// ends at the waiting time.
//
// The numeric constructor arguments keep the encoding the panel has always
// used: baud rate and data bits as numbers, stop bits 0 one / 1 one and a half
// / 2 two, parity 0 none / 1 odd / 2 even / 3 mark / 4 space, flow control
// 0 off / 1 hardware / 2 XON-XOFF, query mode 0 polling / 1 event-driven.
class SerialConnection : public QSerialPort
{
    Q_OBJECT

public:
    enum QueryMode { Polling = 0, EventDriven = 1 };
    // Whether the bytes received so far already hold a whole answer.
    using AnswerShape = bool (*)(const QByteArray &received);

    SerialConnection(const QString &device, int baudRate, int dataBits, int stopBits, int parity,
        int flowControl, int queryMode);
    ~SerialConnection() override;

    // 0: opening failed, 1: opened now, 2: was open already. statusMsg says why.
    int openPort();
    void closePort();
    // Discards whatever is buffered in both directions.
    void flush();
    bool isPortOpen() const;
    QString devicePath() const { return portName; }
    // Milliseconds of quiet line after which a reception in the shape of its
    // answer ends; 0, the default, gives every reception its waiting time.
    // Polling mode only.
    void setAnswerGap(int milliseconds);
    // Only while the port is closed: an open port keeps its device. False
    // when refused.
    bool setDevicePath(const QString &device);

    // A shape, with an answer gap set, lets the reception end before the
    // timeout; without one, only the timeout ends it.
    void transmitMsg(const QString &command, const QString &terminator, int timeout,
        AnswerShape shape = nullptr);
    void transmitMsg(const char *data, int size, int timeout, AnswerShape shape = nullptr);
    void transmitMsg(const QByteArray &data, const QByteArray &terminator, int timeout,
        AnswerShape shape = nullptr);
    void transmitMsg(const QByteArray &data, int timeout, AnswerShape shape = nullptr);

    QString statusMsg;
    // The latest reception: the instrument's bytes, or a text beginning
    // "RX_ERROR: " or "TX_ERROR: ".
    QByteArray rxMsg;

Q_SIGNALS:
    void endReception();
    void receptionTimeout();
    // The device has gone away (a USB adapter unplugged, the other end of a
    // pseudo-terminal closed). The port is closed by then and no reception
    // is pending.
    void portLost(const QString &reason);

private Q_SLOTS:
    void readMsg();
    void communicationsTimeout();

private:
    void send(const QByteArray &bytes, int timeout, AnswerShape shape);
    void bytesArrived();
    void quietElapsed();
    void portError(QSerialPort::SerialPortError error);
    void losePort(const QString &reason);

    QTimer *timer;
    // Runs from the last byte received while a shaped reception is armed.
    QTimer *quiet;
    std::unique_ptr<QSerialPort> port;
    QString portName;
    const bool polling;
    bool losing = false;
    int gap = 0;
    // The shape of the reception armed, when it may end at the gap.
    AnswerShape awaited = nullptr;
};

#endif
