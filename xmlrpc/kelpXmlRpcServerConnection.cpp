#include "kelpXmlRpcServerConnection.h"

#include "kelpFault.h"
#include "kelpObject.h"
#include "kelpPlainXml.h"
#include "kelpXmlRpcServer.h"

#include <QDomDocument>
#include <QMetaMethod>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <array>
#include <utility>

namespace {

// The most arguments QMetaMethod::invoke() passes.
constexpr int MaxArguments = 10;

// A body this large leaves the heap with room that glibc keeps for the process unless asked.
constexpr qint64 LargeBody = 1024 * 1024;

void giveBackFreedMemory()
{
#ifdef __GLIBC__
    // A body read in many pieces is freed piecemeal into the heap, and since glibc raises its
    // mmap threshold after freeing a large block, the next large body lands there too: the
    // process would keep the peak of every burst for good.
    malloc_trim(0);
#endif
}

QMetaMethod findMethod(
    const QMetaObject *metaObject, const QByteArray &name, const QList<QByteArray> &parameterTypes)
{
    for (int i = 0; i < metaObject->methodCount(); ++i) {
        const QMetaMethod method = metaObject->method(i);
        if (method.name() == name && method.parameterTypes() == parameterTypes)
            return method;
    }
    return QMetaMethod();
}

} // namespace

KelpXmlRpcServerConnection::KelpXmlRpcServerConnection(
    QTcpSocket *socket, int requestTimeout, QObject *parent)
    : QObject(parent)
    , socket(socket)
    , server(qobject_cast<KelpXmlRpcServer *>(parent))
{
    connect(socket, &QTcpSocket::readyRead, this, &KelpXmlRpcServerConnection::readFromSocket);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    requestTimer.setSingleShot(true);
    connect(&requestTimer, &QTimer::timeout, this, &KelpXmlRpcServerConnection::abort);
    requestTimer.start(requestTimeout);
}

KelpXmlRpcServerConnection::~KelpXmlRpcServerConnection()
{
    releaseBuffer();
    // The listener may have destroyed the socket already when the server goes first.
    if (socket)
        socket->deleteLater();
}

bool KelpXmlRpcServerConnection::hasCompletedRequest() const
{
    return state == State::Completed;
}

QHostAddress KelpXmlRpcServerConnection::peerAddress() const
{
    return socket ? socket->peerAddress() : QHostAddress();
}

void KelpXmlRpcServerConnection::abort()
{
    state = State::Completed;
    requestTimer.stop();
    releaseBuffer();
    if (socket)
        socket->abort();
}

void KelpXmlRpcServerConnection::releaseBuffer()
{
    if (server)
        server->releaseBuffer(claimed);
    claimed = 0;
}

void KelpXmlRpcServerConnection::readFromSocket()
{
    if (state == State::Completed)
        return;
    received += socket->readAll();
    if (state == State::ReadingHeader && !readHeader())
        return;
    if (state == State::ReadingBody && received.size() >= requestHeader.contentLength()) {
        // Everything that has arrived goes to the parser: a document with more than
        // white space after it is not well-formed.
        parseCall(std::exchange(received, QByteArray()));
        const bool large = claimed >= LargeBody;
        releaseBuffer();
        if (large)
            giveBackFreedMemory();
    }
}

// Takes the header off what has been received; true once it is complete and the request
// can have a body.
bool KelpXmlRpcServerConnection::readHeader()
{
    // The header ends with the first line that is a bare CR LF: at the very start, or right
    // after a line feed. A blank line of a lone LF does not end it: it is taken as another
    // line. The search goes on where the last one stopped, so that a header arriving byte
    // by byte costs no more than one arriving whole.
    qsizetype end = -1;
    if (received.startsWith("\r\n")) {
        end = 2;
    } else {
        const qsizetype blank = received.indexOf("\n\r\n", std::max<qsizetype>(0, searched - 2));
        end = blank < 0 ? -1 : blank + 3;
    }
    if ((end < 0 ? received.size() : end) > KelpXmlRpcServer::MaxHeaderSize) {
        refuse("431 Request Header Fields Too Large");
        return false;
    }
    if (end < 0) {
        searched = received.size();
        return false;
    }
    requestHeader = KelpHttpRequestHeader(received.first(end));
    received.remove(0, end);
    if (!requestHeader.isValid()) {
        qDebug("Invalid Header");
        refuse("400 Bad Request");
        return false;
    }
    if (requestHeader.method() != "POST") {
        qDebug("No Post!");
        refuse("405 Method Not Allowed", "Allow: POST\r\n");
        return false;
    }
    if (requestHeader.contentLength() <= 0) {
        qDebug("No Content Length");
        refuse("411 Length Required");
        return false;
    }
    if (requestHeader.contentLength() > KelpXmlRpcServer::MaxBodySize) {
        refuse("413 Payload Too Large");
        return false;
    }
    if (server) {
        if (!server->claimBuffer(requestHeader.contentLength())) {
            refuse("503 Service Unavailable");
            return false;
        }
        claimed = requestHeader.contentLength();
    }
    state = State::ReadingBody;
    return true;
}

void KelpXmlRpcServerConnection::refuse(const QByteArray &status, const QByteArray &extraFields)
{
    complete("HTTP/1.1 " + status + "\r\nServer: KelpXmlRpc/0.1\r\n" + extraFields
        + "Content-Length: 0\r\nConnection: close\r\n\r\n");
}

void KelpXmlRpcServerConnection::sendResponse(const QString &response)
{
    complete("HTTP/1.1 200 Ok\r\nServer: KelpXmlRpc/0.1\r\nContent-Type: text/xml\r\n"
             "Connection: close\r\n\r\n"
        + response.toUtf8());
}

void KelpXmlRpcServerConnection::complete(const QByteArray &bytes)
{
    // A slot may have run an event loop in which the client went away or the time ran out.
    if (state == State::Completed || !socket
        || socket->state() != QAbstractSocket::ConnectedState) {
        state = State::Completed;
        return;
    }
    state = State::Completed;
    requestTimer.stop();
    socket->write(bytes);
    socket->disconnectFromHost();
}

void KelpXmlRpcServerConnection::sendFault(int faultCode, const QString &faultString)
{
    sendResponse(KelpFault(faultCode, faultString).toString());
}

void KelpXmlRpcServerConnection::parseCall(const QByteArray &body)
{
    QString method;
    QVariantList args;
    if (!KelpPlainXml::readCall(body, &method, &args) && !readGeneralCall(body, &method, &args))
        return;
    QVariant result;
    emit callReceived(method, args, &result);
    // Without a server to answer it, no method is known.
    if (!result.isValid()) {
        sendFault(-32601, QStringLiteral("server error: requested method not found"));
        return;
    }
    if (result.metaType() == QMetaType::fromType<KelpFault>()) {
        sendResponse(static_cast<const KelpFault *>(result.constData())->toString());
        return;
    }
    sendResponse(KelpObject::prepareResponse(result));
}

// Reads a call through the DOM; false, with the fault sent, when it cannot be answered.
bool KelpXmlRpcServerConnection::readGeneralCall(
    const QByteArray &body, QString *method, QVariantList *args)
{
    QDomDocument document;
    switch (KelpObject::readDocument(body, &document)) {
    case KelpObject::DocumentError::NotWellFormed:
        sendFault(-32700, QStringLiteral("parse error: not well formed"));
        return false;
    case KelpObject::DocumentError::NestedTooDeep:
        sendFault(KelpObject::NestedTooDeepFault,
            QStringLiteral("server error: invalid xml-rpc. values nested too deep"));
        return false;
    case KelpObject::DocumentError::None:
        break;
    }
    const QDomElement root = document.documentElement();
    const QDomElement methodName = root.firstChildElement(QStringLiteral("methodName"));
    if (methodName.isNull()) {
        sendFault(-32600, QStringLiteral("server error: invalid xml-rpc. not conforming to spec"));
        return false;
    }
    *method = methodName.text();
    args->clear();
    const QDomElement params = root.firstChildElement(QStringLiteral("params"));
    for (QDomNode param = params.firstChild(); !param.isNull(); param = param.nextSibling())
        args->append(KelpObject::fromXml(param.firstChild().toElement()));
    return true;
}

bool KelpXmlRpcServerConnection::invokeMethodWithVariants(QObject *object,
    const QByteArray &slotName, const QVariantList &args, QVariant *result, Qt::ConnectionType type)
{
    if (!object || args.size() > MaxArguments)
        return false;
    // An argument that read as an invalid variant ("nil", an unknown type) has no type name
    // and so matches no parameter.
    QList<QByteArray> typeNames;
    for (const QVariant &arg : args)
        typeNames.append(QByteArray(arg.typeName()));
    const QMetaMethod method = findMethod(object->metaObject(), slotName, typeNames);
    if (!method.isValid())
        return false;

    QVariant holder;
    QGenericReturnArgument returnArgument;
    if (method.returnType() != QMetaType::Void) {
        if (method.returnType() == QMetaType::QVariant) {
            returnArgument = QGenericReturnArgument("QVariant", &holder);
        } else {
            const QMetaType returnType = method.returnMetaType();
            if (!returnType.isValid())
                return false;
            holder = QVariant(returnType);
            returnArgument = QGenericReturnArgument(method.typeName(), holder.data());
        }
    }
    std::array<QGenericArgument, MaxArguments> arguments;
    for (int i = 0; i < args.size(); ++i)
        arguments[i] = QGenericArgument(typeNames.at(i).constData(), args.at(i).constData());
    if (!method.invoke(object, type, returnArgument, arguments[0], arguments[1], arguments[2],
            arguments[3], arguments[4], arguments[5], arguments[6], arguments[7], arguments[8],
            arguments[9]))
        return false;
    if (holder.isValid() && result)
        *result = holder;
    return true;
}

QByteArray KelpXmlRpcServerConnection::getReturnType(const QMetaObject *metaObject,
    const QByteArray &slotName, const QList<QByteArray> &argumentTypes)
{
    const QMetaMethod method = findMethod(metaObject, slotName, argumentTypes);
    if (!method.isValid() || method.returnType() == QMetaType::Void)
        return QByteArray();
    return method.typeName();
}
