#ifndef KELPXMLRPCSERVER_H
#define KELPXMLRPCSERVER_H

#include "kelpConnectionHost.h"
#include "kelpDocuments.h"
#include "kelpHostNames.h"
#include "kelpMethodTable.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <optional>

class KelpXmlRpcServerConnection;

// An XML-RPC server: listens on a TCP port, reads HTTP POSTs and answers each from its method
// table (KelpMethodTable). A POST to any path is a call; a GET or HEAD is answered from the
// documents published with addDocuments() (KelpDocuments), 404 for any other
// path. A connection is kept for the next request unless the client asks to close it (HTTP/1.0:
// unless it asks to keep it), until it has been idle for idleTimeout() or has carried
// MaxRequestsPerConnection requests. Every error in a call is answered with a fault document
// (KelpFault): a body that is not well-formed (or has a DTD), one without a "methodName", values
// nested more than KelpValueType::MaxNestingDepth deep, a method not found, or arguments that no
// slot of that name takes. What is refused, and how, KelpRequestPolicy judges from each request's
// header, with this machine's names (KelpHostNames) and MaxBodySize; besides, the server refuses
// with 431 a header over MaxHeaderSize and with 503 a body that would take the bodies being read
// together over MaxBufferedBytes. A refused call calls nothing. No CORS fields are sent, so that a
// browser never lets a page of another site read an answer; its preflight OPTIONS gets the 405.
// Every refusal closes the connection.
class KelpXmlRpcServer : public QObject, public KelpConnectionHost
{
    Q_OBJECT
public:
    // The request bodies that all open connections are reading may announce this many bytes
    // together; MaxConnections clients at MaxBodySize each would otherwise hold 4 GiB.
    static constexpr qint64 MaxBufferedBytes = 64 * 1024 * 1024;
    // A connection that has not completed its request this many milliseconds after it was
    // accepted, or a later request this long after its first byte, is closed.
    static constexpr int RequestTimeout = 30 * 1000;
    // A connection that arrives when this many are open closes an idle kept one or else the one
    // that has waited longest without completing its request, so idle clients cannot lock
    // others out.
    static constexpr int MaxConnections = 256;
    // A kept connection is closed after this many milliseconds without a request: far longer
    // than any poll of our clients (a quarter of a second) or a browser page's, short enough
    // that the sockets of clients that went away do not pile up (Apache keeps 5 s, nginx 75 s).
    static constexpr int IdleTimeout = 15 * 1000;

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
    // Host names under which clients may address this machine besides its own names.
    void setAllowedHosts(const QStringList &names);
    const KelpHostNames &hostNames() const override;

    // As KelpMethodTable::add() and remove().
    void addMethod(
        const QString &method, QObject *object, const char *slot, const QString &help = QString());
    void removeMethod(const QString &method);
    // Answers GET and HEAD with the files below resourcePrefix (":/page"), as
    // KelpDocuments::addFolder() publishes them.
    void addDocuments(const QString &resourcePrefix);
    KelpDocuments::Response document(
        QByteArrayView method, QByteArrayView target, QByteArrayView ifNoneMatch) const override;

    // Answers method with args as a request is answered: the result, or a KelpFault. Its slot
    // cannot defer the response.
    QVariant call(const QString &method, const QVariantList &args);
    QVariant call(
        const QString &method, const QVariantList &args, KelpCallContext *context) override;

    // While a served slot runs: the address of the client whose call it answers; null for a
    // call made with call().
    QHostAddress callerAddress() const;
    // While a served slot runs: the call's response, which the slot then finishes later, and
    // whatever it returns is not sent. Null where a response cannot wait: inside
    // system.multicall, and for a call made with call().
    KelpDeferredResponse *deferResponse();

    QHostAddress getServerAddress() const;
    // The port listened on; with port 0 the one the system chose.
    quint16 serverPort() const;
    bool isListening() const;
    // Why listening failed.
    QString errorString() const;

    // In milliseconds, RequestTimeout unless set (tests shorten it); a change applies to
    // connections accepted afterwards.
    int requestTimeout() const override;
    void setRequestTimeout(int msec);
    // In milliseconds, IdleTimeout unless set; a change applies to connections that go idle
    // afterwards.
    int idleTimeout() const override;
    void setIdleTimeout(int msec);

    // Claims on MaxBufferedBytes.
    bool claimBuffer(qint64 bytes) override;
    void releaseBuffer(qint64 bytes) override;

    // Writes a warning line, such as a refusal, and announces it with warningLogged().
    void warn(const QString &line) override;

signals:
    // Each warning line the server writes: a rejected client, a connection closed to make
    // room. A program without a console can show them.
    void warningLogged(const QString &line);

private slots:
    void newConnection();

private:
    bool isAllowed(const QHostAddress &peer) const;
    void makeRoom();

    QTcpServer listener;
    KelpMethodTable methods;
    KelpDocuments documents;
    KelpHostNames machineNames;
    QList<QHostAddress> *allowedPeers = nullptr;
    std::optional<QList<Subnet>> allowedSubnets;
    QList<QPointer<KelpXmlRpcServerConnection>> connections;
    // The call being answered, while its slot runs.
    KelpCallContext *current = nullptr;
    int timeout = RequestTimeout;
    int idle = IdleTimeout;
    qint64 buffered = 0;
};

#endif // KELPXMLRPCSERVER_H
