#ifndef KELPXMLRPCSERVERCONNECTION_H
#define KELPXMLRPCSERVERCONNECTION_H

#include "kelpHttpRequestHeader.h"

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
    // Whether the request whose header has been read can be answered; when not, it has been
    // refused.
    bool admit();
    // Why a call whose header is sound may have come from a web page of another site: the
    // refusal's status and the line that tells the client; empty when it may be answered.
    QPair<QByteArray, QString> foreignCall() const;
    // Why a request's Host may be a name that another site gave this machine; empty when not.
    QPair<QByteArray, QString> foreignHost() const;
    // Answers a GET or HEAD from the server's documents, or refuses it.
    void serveDocument();
    // Refuses the request with a line that tells the client why, and writes it as a warning.
    void tell(const QPair<QByteArray, QString> &refused);
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
    // Of a call from another site: answered once its body has been read, so that the client
    // gets the answer rather than a reset.
    QPair<QByteArray, QString> refusal;
    State state = State::ReadingHeader;
    int answered = 0;
    // The request time-out while a request is read, the idle time-out between requests.
    QTimer requestTimer;
};

#endif // KELPXMLRPCSERVERCONNECTION_H
