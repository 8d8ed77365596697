#ifndef KELPXMLRPCSERVERCONNECTION_H
#define KELPXMLRPCSERVERCONNECTION_H

#include "kelpHttpRequestHeader.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QVariant>

class KelpXmlRpcServer;

// One accepted connection of KelpXmlRpcServer: reads one HTTP request, answers the XML-RPC
// call in its body and closes. Deletes itself once the socket has disconnected.
class KelpXmlRpcServerConnection : public QObject
{
    Q_OBJECT
public:
    // The socket stays owned by the server's listener. The connection is closed when it has
    // not completed its request within requestTimeout milliseconds. A parent that is a
    // KelpXmlRpcServer bounds the bodies its connections read together.
    KelpXmlRpcServerConnection(QTcpSocket *socket, int requestTimeout, QObject *parent = nullptr);
    ~KelpXmlRpcServerConnection() override;

    // True once the request has been answered, refused or given up.
    bool hasCompletedRequest() const;
    QHostAddress peerAddress() const;
    // Closes the connection at once, without an answer.
    void abort();

    // Writes the "200 Ok" response carrying the document and closes the connection.
    void sendResponse(const QString &response);
    // Answers the methodCall document in body with exactly one sendResponse().
    void parseCall(const QByteArray &body);

    // Calls the slot called slotName whose parameter types are exactly the types of args
    // (at most 10), putting its return value, if any, into *result. False when there is no
    // such slot, its return type is not registered with QMetaType, or the call is refused.
    static bool invokeMethodWithVariants(QObject *object, const QByteArray &slotName,
        const QVariantList &args, QVariant *result = nullptr,
        Qt::ConnectionType type = Qt::AutoConnection);
    // The return type name of the first method (base classes' first) called slotName with
    // exactly these parameter type names; empty when it returns nothing or none matches.
    static QByteArray getReturnType(const QMetaObject *metaObject, const QByteArray &slotName,
        const QList<QByteArray> &argumentTypes);

signals:
    // Connected directly to the server, which puts the call's result or its KelpFault into
    // *result.
    void callReceived(const QString &method, const QVariantList &args, QVariant *result);

private slots:
    void readFromSocket();

private:
    enum class State { ReadingHeader, ReadingBody, Completed };

    bool readHeader();
    bool readGeneralCall(const QByteArray &body, QString *method, QVariantList *args);
    void refuse(const QByteArray &status, const QByteArray &extraFields = QByteArray());
    void sendFault(int faultCode, const QString &faultString);
    void complete(const QByteArray &bytes);
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
