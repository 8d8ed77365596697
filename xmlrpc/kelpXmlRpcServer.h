#ifndef KELPXMLRPCSERVER_H
#define KELPXMLRPCSERVER_H

#include "kelpObject.h"
#include "kelpSystemMethods.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>

#include <optional>

class KelpXmlRpcServerConnection;

// An XML-RPC server: listens on a TCP port, reads one HTTP POST per connection and answers
// it by calling the slot registered under the call's method name.
//
// A registered slot is called when the call's arguments have exactly its parameter types
// (an int does not fill a double parameter); slots of any access can serve. Its return
// value is the result; a slot without one answers with an empty string, since every client
// expects one value, and a slot that returns a variant holding a KelpFault answers with that
// fault. Every error in a call is answered with a fault document:
//   -32700 "parse error: not well formed" (also for a document with a DTD)
//   -32600 "server error: invalid xml-rpc. not conforming to spec" (no "methodName")
//   -32600 "server error: invalid xml-rpc. values nested too deep" (more than
//          MaxNestingDepth arrays and structs inside one another)
//   -32601 "server error: requested method not found"
//   -32602 "server error: invalid method parameters"
// Besides the registered methods every server answers system.listMethods, system.methodHelp,
// system.methodSignature and system.multicall; a fault inside a multicall is that call's
// answer, not the whole response's.
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
    static constexpr int MaxNestingDepth = KelpObject::MaxNestingDepth;

    // Each constructor starts listening at once; see isListening() and errorString(). Like
    // KelpObject's constructor, it makes every document built from then on drop characters
    // that XML cannot carry, so that a result holding one is still answered well-formed.
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

    // Serves method (case-sensitive) with the slot of object called slot (the bare name,
    // such as "getWavelength"); a name registered again is replaced. help is what
    // system.methodHelp tells of it.
    void addMethod(
        const QString &method, QObject *object, const char *slot, const QString &help = QString());
    void removeMethod(const QString &method);

    // Answers method with args as a request would be answered: the slot's result (an empty
    // string for a slot without one), or a KelpFault.
    QVariant call(const QString &method, const QVariantList &args) const;
    // Every method answered, the system methods included, sorted.
    QStringList methodNames() const;
    bool hasMethod(const QString &method) const;
    QString methodHelp(const QString &method) const;
    // One list of XML-RPC type names per slot of that name, the result's type first; empty
    // when a type has no XML-RPC name.
    QVariantList methodSignatures(const QString &method) const;
    // "int", "double", "string", ...; empty for a type XML-RPC cannot carry.
    static QString typeName(QMetaType type);

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

public slots:
    // Null in both out-values when method is not registered.
    void getMethod(
        const QString &method, QObject **responseObject, const char **responseSlot) const;
    // call(), for a connection's request.
    void answer(const QString &method, const QVariantList &args, QVariant *result);

private slots:
    void newConnection();

private:
    bool isAllowed(const QHostAddress &peer) const;
    void makeRoom();
    void warn(const QString &line);

    QTcpServer listener;
    KelpSystemMethods systemMethods { this };
    struct Method
    {
        QPointer<QObject> object;
        QByteArray slot;
        QString help;
    };

    QHash<QString, Method> methods;
    QList<QHostAddress> *allowedPeers = nullptr;
    std::optional<QList<Subnet>> allowedSubnets;
    QList<QPointer<KelpXmlRpcServerConnection>> connections;
    int timeout = RequestTimeout;
    qint64 buffered = 0;
};

#endif // KELPXMLRPCSERVER_H
