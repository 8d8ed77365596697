#ifndef KELPXMLRPCSERVERCONNECTION_H
#define KELPXMLRPCSERVERCONNECTION_H

#include "kelpHttpRequestHeader.h"
#include "kelpRequestPolicy.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

class KelpConnectionHost;

// One accepted connection of KelpXmlRpcServer: the HTTP of it. It reads requests one after
// the other, hands the XML-RPC call in each body to the server, or asks it for the document
// of a GET or HEAD, and answers them in order;
// it closes after an answer when the client asked to, after a refusal, after the server's
// MaxRequestsPerConnection, or once it has been idle for the server's idle time-out. Deletes
// itself once the socket has disconnected.
class KelpXmlRpcServerConnection : public QObject
{
    Q_OBJECT
public:
    // The socket stays owned by the server's listener; the host answers the calls and bounds
    // the bodies its connections read together, and outlives the connection. The connection is
    // closed when it has not completed a request within the host's request time-out from its
    // first byte (for the first request, from the connection's start).
    KelpXmlRpcServerConnection(QTcpSocket *socket, KelpConnectionHost *host, QObject *parent);
    ~KelpXmlRpcServerConnection() override;

    // True once the last request has been answered, refused or given up and the connection
    // is closing.
    bool hasCompletedRequest() const;
    // True while the connection is kept and waits for a request of which nothing has come.
    bool isIdle() const;
    // Closes an idle connection in order, as its idle time-out does.
    void closeIdle();
    QHostAddress peerAddress() const;
    // Closes the connection at once, without an answer.
    void abort();

    // Answers the methodCall document in body with exactly one response, at once or, when its
    // slot defers it, later; the connection stays open afterwards only when the request read
    // before asked for it.
    void parseCall(const QByteArray &body);

private slots:
    void readFromSocket();

private:
    enum class State { Idle, ReadingHeader, ReadingBody, Calling, Completed };

    // Reads and answers the requests that have arrived, in order.
    void readRequests();
    // Answers or refuses the request whose body is the first length bytes received.
    void answer(qsizetype length);
    bool readHeader();
    // Takes the request whose header has been read where its verdict sends it: answers a
    // document or a refusal at once, or goes on to read the body of a call.
    void route();
    // Refuses the request as its verdict says; one that says why tells the client and writes
    // the line as a warning.
    void refuse(const KelpRequestPolicy::Verdict &refused);
    void refuse(const QByteArray &status, const QByteArray &extraFields = QByteArray());
    void respondToCall(const QVariant &result);
    // The one response to the request: the status line's code and reason, the fields that
    // belong to this response and its body.
    void respond(const QByteArray &status, const QByteArray &fields, const QByteArray &body);
    void releaseBuffer();

    QPointer<QTcpSocket> socket;
    KelpConnectionHost *host;
    // What this connection has claimed of the server's MaxBufferedBytes.
    qint64 claimed = 0;
    // What has arrived and is not yet part of the parsed header.
    QByteArray received;
    // How far the search for the header's end has gone.
    qsizetype searched = 0;
    KelpHttpRequestHeader requestHeader;
    KelpRequestPolicy::Verdict verdict {};
    State state = State::ReadingHeader;
    int answered = 0;
    // The request time-out while a request is read, the idle time-out between requests.
    QTimer requestTimer;
};

#endif // KELPXMLRPCSERVERCONNECTION_H
