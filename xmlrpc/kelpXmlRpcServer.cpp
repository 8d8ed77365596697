#include "kelpXmlRpcServer.h"

#include "kelpXmlRpcServerConnection.h"

#include "kelpFault.h"

#include <QDomImplementation>
#include <QMetaMethod>
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
    // A served slot may return a string holding control characters; the response must still
    // be well-formed, and a server-only process never makes the call object that sets this.
    QDomImplementation::setInvalidDataPolicy(QDomImplementation::DropInvalidChars);
    connect(&listener, &QTcpServer::newConnection, this, &KelpXmlRpcServer::newConnection);
    listener.listen(address, port);
}

KelpXmlRpcServer::~KelpXmlRpcServer() = default;

void KelpXmlRpcServer::setAllowedSubnets(const QList<Subnet> &subnets)
{
    allowedSubnets = subnets;
}

void KelpXmlRpcServer::addMethod(
    const QString &method, QObject *object, const char *slot, const QString &help)
{
    methods.insert(method, { object, QByteArray(slot), help });
}

void KelpXmlRpcServer::removeMethod(const QString &method)
{
    methods.remove(method);
}

QVariant KelpXmlRpcServer::call(const QString &method, const QVariantList &args) const
{
    if (KelpSystemMethods::serves(method))
        return systemMethods.call(method, args);
    QObject *object = nullptr;
    const char *slot = nullptr;
    getMethod(method, &object, &slot);
    if (!object)
        return QVariant::fromValue(
            KelpFault(-32601, QStringLiteral("server error: requested method not found")));
    QVariant result;
    if (!KelpXmlRpcServerConnection::invokeMethodWithVariants(object, slot, args, &result))
        return QVariant::fromValue(
            KelpFault(-32602, QStringLiteral("server error: invalid method parameters")));
    // A response holds exactly one value, and clients such as xmlrpc-c's refuse one without:
    // a slot that returns nothing answers with an empty string.
    if (!result.isValid())
        result = QString(QLatin1String(""));
    return result;
}

QStringList KelpXmlRpcServer::methodNames() const
{
    QStringList names = KelpSystemMethods::names();
    for (auto it = methods.cbegin(); it != methods.cend(); ++it) {
        if (it->object && !names.contains(it.key()))
            names.append(it.key());
    }
    names.sort();
    return names;
}

bool KelpXmlRpcServer::hasMethod(const QString &method) const
{
    return KelpSystemMethods::serves(method) || methods.value(method).object;
}

QString KelpXmlRpcServer::methodHelp(const QString &method) const
{
    if (KelpSystemMethods::serves(method))
        return KelpSystemMethods::help(method);
    return methods.value(method).help;
}

QVariantList KelpXmlRpcServer::methodSignatures(const QString &method) const
{
    if (KelpSystemMethods::serves(method))
        return KelpSystemMethods::signatures(method);
    const Method served = methods.value(method);
    if (!served.object)
        return {};
    QVariantList signatures;
    const QMetaObject *metaObject = served.object->metaObject();
    for (int i = 0; i < metaObject->methodCount(); ++i) {
        const QMetaMethod slot = metaObject->method(i);
        if (slot.name() != served.slot)
            continue;
        // What a slot without a result answers with.
        QVariantList types { slot.returnType() == QMetaType::Void
                ? QStringLiteral("string")
                : typeName(slot.returnMetaType()) };
        for (int p = 0; p < slot.parameterCount(); ++p)
            types.append(typeName(slot.parameterMetaType(p)));
        if (types.contains(QString()))
            return {};
        signatures.append(QVariant(types));
    }
    return signatures;
}

QString KelpXmlRpcServer::typeName(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Bool:
        return QStringLiteral("boolean");
    case QMetaType::Int:
        return QStringLiteral("int");
    case QMetaType::Double:
        return QStringLiteral("double");
    case QMetaType::QString:
        return QStringLiteral("string");
    case QMetaType::QByteArray:
        return QStringLiteral("base64");
    case QMetaType::QDateTime:
        return QStringLiteral("dateTime.iso8601");
    case QMetaType::QVariantList:
        return QStringLiteral("array");
    case QMetaType::QVariantMap:
        return QStringLiteral("struct");
    default:
        return QString();
    }
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

void KelpXmlRpcServer::getMethod(
    const QString &method, QObject **responseObject, const char **responseSlot) const
{
    // A served object that has been destroyed serves nothing any more.
    const auto found = methods.constFind(method);
    QObject *object = found != methods.cend() ? found->object.data() : nullptr;
    *responseObject = object;
    *responseSlot = object ? found->slot.constData() : nullptr;
}

void KelpXmlRpcServer::answer(const QString &method, const QVariantList &args, QVariant *result)
{
    *result = call(method, args);
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
        auto *connection = new KelpXmlRpcServerConnection(socket, timeout, this);
        connect(connection, &KelpXmlRpcServerConnection::callReceived, this,
            &KelpXmlRpcServer::answer, Qt::DirectConnection);
        connections.append(connection);
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
    qWarning("%s", qPrintable(line));
    emit warningLogged(line);
}
