#ifndef KELPXMLRPCSERVER_H
#define KELPXMLRPCSERVER_H

#include "kelpMethodTable.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <optional>

class KelpXmlRpcServerConnection;

// An XML-RPC server: listens on a TCP port, reads one HTTP POST per connection and answers
// it from its method table (KelpMethodTable). Every error in a call is answered with a fault
// document (KelpFault): a body that is not well-formed (or has a DTD), one without a
// "methodName", values nested more than KelpCodec::MaxNestingDepth deep, a method not found,
// or arguments that no slot of that name takes.
// Requests that are not an XML-RPC call are answered with an HTTP error and closed: 400 for
// a malformed header, 405 for a method other than POST, 411 without a Content-Length, 413 for
// a body over MaxBodySize, 431 for a header over MaxHeaderSize, and 503 for a body that
// would take the bodies being read together over MaxBufferedBytes.
class KelpXmlRpcServer : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxHeaderSize = 64 * 1024;
    static constexpr qint64 MaxBodySize = 16 * 1024 * 1024;
    // The request bodies that all open connections are reading may announce this many bytes
    // together; MaxConnections clients at MaxBodySize each would otherwise hold 4 GiB.
    static constexpr qint64 MaxBufferedBytes = 64 * 1024 * 1024;
    // A connection that has not completed its request this many milliseconds after it was
    // accepted is closed.
    static constexpr int RequestTimeout = 30 * 1000;
    // A connection that arrives when this many are open closes the one that has waited
    // longest without completing its request, so idle clients cannot lock others out.
    static constexpr int MaxConnections = 256;

    // Each constructor starts listening at once; see isListening() and errorString().
    KelpXmlRpcServer(const QHostAddress &address, quint16 port, QObject *parent = nullptr);
    // Makes KelpXmlRpcServer(QHostAddress::LocalHost, 0) listen on the loopback address
    // rather than pass for the port-only constructor with a null parent.
    KelpXmlRpcServer(QHostAddress::SpecialAddress address, quint16 port, QObject *parent = nullptr);
    // Listens on all IPv4 interfaces.
    explicit KelpXmlRpcServer(quint16 port, QObject *parent = nullptr);
    // Admits only peers in *allowedPeers (every peer while it is empty). The list is
    // consulted for each new connection and not copied: keep it alive as long as the server.
    KelpXmlRpcServer(const QHostAddress &address, quint16 port, QList<QHostAddress> *allowedPeers,
        QObject *parent = nullptr);
    ~KelpXmlRpcServer() override;

    // An address and a prefix length, as QHostAddress::parseSubnet() gives them.
    using Subnet = QPair<QHostAddress, int>;
    // From now on admits only peers in one of subnets or in the access list; an empty list
    // leaves only the access list, and without one, nobody.
    void setAllowedSubnets(const QList<Subnet> &subnets);

    // As KelpMethodTable::add() and remove().
    void addMethod(
        const QString &method, QObject *object, const char *slot, const QString &help = QString());
    void removeMethod(const QString &method);

    // Answers method with args as a request is answered: the result, or a KelpFault.
    QVariant call(const QString &method, const QVariantList &args) const;

    QHostAddress getServerAddress() const;
    // The port listened on; with port 0 the one the system chose.
    quint16 serverPort() const;
    bool isListening() const;
    // Why listening failed.
    QString errorString() const;

    // In milliseconds, RequestTimeout unless set (tests shorten it); a change applies to
    // connections accepted afterwards.
    int requestTimeout() const;
    void setRequestTimeout(int msec);

    // A connection's claim on MaxBufferedBytes for a body of bytes; false, claiming nothing,
    // when it would go beyond. What is claimed goes back with releaseBuffer().
    bool claimBuffer(qint64 bytes);
    void releaseBuffer(qint64 bytes);

signals:
    // Each warning line the server writes: a rejected client, a connection closed to make
    // room. A program without a console can show them.
    void warningLogged(const QString &line);

private slots:
    void newConnection();

private:
    bool isAllowed(const QHostAddress &peer) const;
    void makeRoom();
    void warn(const QString &line);

    QTcpServer listener;
    KelpMethodTable methods;
    QList<QHostAddress> *allowedPeers = nullptr;
    std::optional<QList<Subnet>> allowedSubnets;
    QList<QPointer<KelpXmlRpcServerConnection>> connections;
    int timeout = RequestTimeout;
    qint64 buffered = 0;
};

#endif // KELPXMLRPCSERVER_H
