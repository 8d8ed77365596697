#ifndef KELPXMLRPCSERVERCONNECTION_H
#define KELPXMLRPCSERVERCONNECTION_H

#include "kelpHttpRequestHeader.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

class KelpXmlRpcServer;

// One accepted connection of KelpXmlRpcServer: the HTTP of it. It reads one request, hands
// the XML-RPC call in its body to the server and closes after the answer. Deletes itself once
// the socket has disconnected.
class KelpXmlRpcServerConnection : public QObject
{
    Q_OBJECT
public:
    // The socket stays owned by the server's listener; the server is the parent, answers the
    // calls and bounds the bodies its connections read together. The connection is closed when
    // it has not completed its request within the server's request time-out.
    KelpXmlRpcServerConnection(QTcpSocket *socket, KelpXmlRpcServer *server);
    ~KelpXmlRpcServerConnection() override;

    // True once the request has been answered, refused or given up.
    bool hasCompletedRequest() const;
    QHostAddress peerAddress() const;
    // Closes the connection at once, without an answer.
    void abort();

    // Answers the methodCall document in body with exactly one response.
    void parseCall(const QByteArray &body);

private slots:
    void readFromSocket();

private:
    enum class State { ReadingHeader, ReadingBody, Completed };

    bool readHeader();
    // Whether the request whose header has been read can be answered; when not, it has been
    // refused.
    bool admit();
    void refuse(const QByteArray &status, const QByteArray &extraFields = QByteArray());
    // The one response to the request: the status line's code and reason, the fields that
    // belong to this response and its body.
    void respond(const QByteArray &status, const QByteArray &fields, const QByteArray &body);
    void releaseBuffer();

    QPointer<QTcpSocket> socket;
    QPointer<KelpXmlRpcServer> server;
    // What this connection has claimed of the server's MaxBufferedBytes.
    qint64 claimed = 0;
    // What has arrived and is not yet part of the parsed header.
    QByteArray received;
    // How far the search for the header's end has gone.
    qsizetype searched = 0;
    KelpHttpRequestHeader requestHeader;
    State state = State::ReadingHeader;
    QTimer requestTimer;
};

#endif // KELPXMLRPCSERVERCONNECTION_H
