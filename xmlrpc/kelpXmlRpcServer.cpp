#include "kelpXmlRpcServer.h"

#include "kelpDeferredResponse.h"
#include "kelpLog.h"
#include "kelpSystemMethods.h"
#include "kelpXmlRpcServerConnection.h"

#include <QScopeGuard>
#include <QTcpSocket>

#include <algorithm>

KelpXmlRpcServer::KelpXmlRpcServer(const QHostAddress &address, quint16 port, QObject *parent)
    : KelpXmlRpcServer(address, port, nullptr, parent)
{ }

KelpXmlRpcServer::KelpXmlRpcServer(
    QHostAddress::SpecialAddress address, quint16 port, QObject *parent)
    : KelpXmlRpcServer(QHostAddress(address), port, nullptr, parent)
{ }

KelpXmlRpcServer::KelpXmlRpcServer(quint16 port, QObject *parent)
    : KelpXmlRpcServer(QHostAddress::AnyIPv4, port, nullptr, parent)
{ }

KelpXmlRpcServer::KelpXmlRpcServer(
    const QHostAddress &address, quint16 port, QList<QHostAddress> *allowedPeers, QObject *parent)
    : QObject(parent)
    , allowedPeers(allowedPeers)
{
    connect(&listener, &QTcpServer::newConnection, this, &KelpXmlRpcServer::newConnection);
    listener.listen(address, port);
}

KelpXmlRpcServer::~KelpXmlRpcServer()
{
    // While this is still their whole host: a connection gives back its buffer claim as it goes.
    for (const QPointer<KelpXmlRpcServerConnection> &connection : std::as_const(connections))
        delete connection.data();
}

void KelpXmlRpcServer::setAllowedSubnets(const QList<Subnet> &subnets)
{
    allowedSubnets = subnets;
}

void KelpXmlRpcServer::setAllowedHosts(const QStringList &names)
{
    machineNames.setAllowed(names);
}

const KelpHostNames &KelpXmlRpcServer::hostNames() const
{
    return machineNames;
}

void KelpXmlRpcServer::addMethod(
    const QString &method, QObject *object, const char *slot, const QString &help)
{
    methods.add(method, object, slot, help);
}

void KelpXmlRpcServer::removeMethod(const QString &method)
{
    methods.remove(method);
}

void KelpXmlRpcServer::addDocuments(const QString &resourcePrefix)
{
    documents.addFolder(resourcePrefix);
}

KelpDocuments::Response KelpXmlRpcServer::document(
    QByteArrayView method, QByteArrayView target, QByteArrayView ifNoneMatch) const
{
    return documents.answer(method, target, ifNoneMatch);
}

QVariant KelpXmlRpcServer::call(const QString &method, const QVariantList &args)
{
    return call(method, args, nullptr);
}

// A slot may run an event loop in which another call is answered: each restores the one it
// interrupted.
QVariant KelpXmlRpcServer::call(
    const QString &method, const QVariantList &args, KelpCallContext *context)
{
    if (context && method == QLatin1String("system.multicall"))
        context->mayDefer = false;
    const auto restore
        = qScopeGuard([this, outer = std::exchange(current, context)] { current = outer; });
    return KelpSystemMethods::answer(methods, method, args);
}

QHostAddress KelpXmlRpcServer::callerAddress() const
{
    return current ? current->peer : QHostAddress();
}

KelpDeferredResponse *KelpXmlRpcServer::deferResponse()
{
    if (!current || !current->mayDefer)
        return nullptr;
    if (!current->deferred)
        current->deferred = new KelpDeferredResponse(current->owner);
    return current->deferred;
}

QHostAddress KelpXmlRpcServer::getServerAddress() const
{
    return listener.serverAddress();
}

quint16 KelpXmlRpcServer::serverPort() const
{
    return listener.serverPort();
}

bool KelpXmlRpcServer::isListening() const
{
    return listener.isListening();
}

QString KelpXmlRpcServer::errorString() const
{
    return listener.errorString();
}

int KelpXmlRpcServer::requestTimeout() const
{
    return timeout;
}

void KelpXmlRpcServer::setRequestTimeout(int msec)
{
    timeout = msec;
}

int KelpXmlRpcServer::idleTimeout() const
{
    return idle;
}

void KelpXmlRpcServer::setIdleTimeout(int msec)
{
    idle = msec;
}

bool KelpXmlRpcServer::claimBuffer(qint64 bytes)
{
    if (bytes > MaxBufferedBytes - buffered)
        return false;
    buffered += bytes;
    return true;
}

void KelpXmlRpcServer::releaseBuffer(qint64 bytes)
{
    buffered -= bytes;
}

void KelpXmlRpcServer::newConnection()
{
    while (QTcpSocket *socket = listener.nextPendingConnection()) {
        if (!isAllowed(socket->peerAddress())) {
            warn(QStringLiteral("Rejected connection attempt from \"%1\"")
                     .arg(socket->peerAddress().toString()));
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        makeRoom();
        connections.append(new KelpXmlRpcServerConnection(socket, this, this));
    }
}

bool KelpXmlRpcServer::isAllowed(const QHostAddress &peer) const
{
    const bool byList = allowedPeers && !allowedPeers->isEmpty();
    if (!byList && !allowedSubnets)
        return true;
    // Tolerant, so that a listener on both protocols, which sees IPv4 peers as mapped IPv6
    // addresses, still matches them against IPv4 entries.
    if (byList
        && std::any_of(
            allowedPeers->cbegin(), allowedPeers->cend(), [&peer](const QHostAddress &allowed) {
                return allowed.isEqual(peer, QHostAddress::TolerantConversion);
            }))
        return true;
    if (!allowedSubnets)
        return false;
    bool isMapped = false;
    const QHostAddress ipv4(peer.toIPv4Address(&isMapped));
    return std::any_of(allowedSubnets->cbegin(), allowedSubnets->cend(), [&](const Subnet &subnet) {
        return peer.isInSubnet(subnet) || (isMapped && ipv4.isInSubnet(subnet));
    });
}

void KelpXmlRpcServer::makeRoom()
{
    connections.removeIf([](const QPointer<KelpXmlRpcServerConnection> &c) { return c.isNull(); });
    if (connections.size() < MaxConnections)
        return;
    // An idle kept connection costs its client no more than a new one for the next call.
    const auto idle = std::find_if(connections.begin(), connections.end(),
        [](const QPointer<KelpXmlRpcServerConnection> &c) { return c->isIdle(); });
    if (idle != connections.end()) {
        (*idle)->closeIdle();
        connections.erase(idle);
        return;
    }
    auto victim = std::find_if(connections.begin(), connections.end(),
        [](const QPointer<KelpXmlRpcServerConnection> &c) { return !c->hasCompletedRequest(); });
    if (victim == connections.end())
        victim = connections.begin();
    warn(QStringLiteral("%1 connections open: closing the one from \"%2\" that has waited longest")
             .arg(MaxConnections)
             .arg((*victim)->peerAddress().toString()));
    (*victim)->abort();
    connections.erase(victim);
}

void KelpXmlRpcServer::warn(const QString &line)
{
    qCWarning(lcHttp, "%s", qPrintable(line));
    emit warningLogged(line);
}
