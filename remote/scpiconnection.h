#ifndef SCPICONNECTION_H
#define SCPICONNECTION_H

#include "readywait.h"
#include "scpiparser.h"
#include "scpistatus.h"
#include "triaxcontroller.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QTcpSocket;

// One SCPI client: reads its lines, carries out their commands in the order sent, and writes
// one answer line for each line that held queries. Requests go to the controller with the
// client's address and the command as sent, so that they are logged as the remote methods'
// are; a refused request's verdict goes into the connection's error queue.
//
// *OPC? and *WAI wait, at no cost, until the instrument is ready with nothing queued or in
// flight, or cannot get there by itself, or ReadyWait::MaxSeconds have passed; meanwhile the
// client's later commands wait behind them and other connections are served. A first line
// that opens an HTTP request closes the connection before anything on it is carried out.
// The connection deletes itself when its client hangs up.
class ScpiConnection : public QObject
{
    Q_OBJECT

public:
    // A longer line is ignored, with -223 "Too much data" in the queue.
    static constexpr int MaxLineLength = 4096;
    // Commands that may wait behind *OPC? or *WAI; a line that would pass it is ignored, with
    // -363 "Input buffer overrun" in the queue.
    static constexpr int MaxQueuedCommands = 256;
    // Answers the client has not read yet; past this, its further lines are read only once
    // it has.
    static constexpr qint64 MaxUnreadAnswers = 1024 * 1024;

    // Takes socket over; controller must outlive the connection.
    ScpiConnection(QTcpSocket *socket, TriaxController *controller, QObject *parent = nullptr);

Q_SIGNALS:
    void warningLogged(const QString &line);

private:
    void readInput();
    void takeLine(QByteArrayView line);
    void queue(const QList<ScpiParser::Command> &line);
    void runQueue();
    void execute(const ScpiParser::Command &command);
    void request(const ScpiParser::Command &command);
    QString limitOr(const ScpiParser::Command &command, double value) const;
    void setMask(const ScpiParser::Command &command, void (ScpiStatus::*set)(int));
    void waitReady(bool answer);
    void waitForOperationComplete();
    void judgeWait(ReadyWait::Outcome outcome, const QString &reason);
    void refuseHttp();
    void writeAnswers();

    QTcpSocket *socket;
    TriaxController *controller;
    // The client as the controller's log line names it.
    const QString origin;
    ScpiStatus status;
    QByteArray partialLine;
    bool skippingLine = false;
    bool firstLine = true;
    // The lines whose commands wait, the first of them under way: its answers go out once
    // it is empty.
    QList<QList<ScpiParser::Command>> pending;
    QStringList answers;
    // The wait of *OPC? or *WAI that holds the queue.
    QPointer<ReadyWait> blockingWait;
    // The wait of *OPC, which only sets its bit.
    QPointer<ReadyWait> operationWait;
};

#endif
