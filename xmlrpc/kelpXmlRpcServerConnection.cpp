#include "kelpXmlRpcServerConnection.h"

#include "kelpCodec.h"
#include "kelpFault.h"
#include "kelpXmlRpcServer.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <utility>

namespace {

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

} // namespace

KelpXmlRpcServerConnection::KelpXmlRpcServerConnection(QTcpSocket *socket, KelpXmlRpcServer *server)
    : QObject(server)
    , socket(socket)
    , server(server)
{
    connect(socket, &QTcpSocket::readyRead, this, &KelpXmlRpcServerConnection::readFromSocket);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    requestTimer.setSingleShot(true);
    connect(&requestTimer, &QTimer::timeout, this, &KelpXmlRpcServerConnection::abort);
    requestTimer.start(server->requestTimeout());
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
    if (!admit())
        return false;
    state = State::ReadingBody;
    return true;
}

bool KelpXmlRpcServerConnection::admit()
{
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
    if (!server->claimBuffer(requestHeader.contentLength())) {
        refuse("503 Service Unavailable");
        return false;
    }
    claimed = requestHeader.contentLength();
    return true;
}

void KelpXmlRpcServerConnection::refuse(const QByteArray &status, const QByteArray &extraFields)
{
    respond(status, extraFields + "Content-Length: 0\r\n", QByteArray());
}

void KelpXmlRpcServerConnection::respond(
    const QByteArray &status, const QByteArray &fields, const QByteArray &body)
{
    // A slot may have run an event loop in which the client went away or the time ran out.
    if (state == State::Completed || !socket
        || socket->state() != QAbstractSocket::ConnectedState) {
        state = State::Completed;
        return;
    }
    state = State::Completed;
    requestTimer.stop();
    socket->write("HTTP/1.1 " + status + "\r\nServer: KelpXmlRpc/0.1\r\n" + fields
        + "Connection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void KelpXmlRpcServerConnection::parseCall(const QByteArray &body)
{
    QString method;
    QVariantList args;
    KelpFault refusal;
    const QVariant result = KelpCodec::readCall(body, &method, &args, &refusal)
        ? server->call(method, args)
        : QVariant::fromValue(refusal);
    respond("200 Ok", "Content-Type: text/xml\r\n", KelpCodec::prepareResponse(result));
}
