#include "kelpXmlRpcServerConnection.h"

#include "kelpCodec.h"
#include "kelpConnectionHost.h"
#include "kelpDeferredResponse.h"
#include "kelpFault.h"
#include "kelpLog.h"

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

KelpXmlRpcServerConnection::KelpXmlRpcServerConnection(
    QTcpSocket *socket, KelpConnectionHost *host, QObject *parent)
    : QObject(parent)
    , socket(socket)
    , host(host)
{
    // While a call is answered, later requests wait in the socket: once this much waits there,
    // it stops reading from the system and TCP holds the client back.
    socket->setReadBufferSize(KelpConnectionHost::MaxHeaderSize);
    connect(socket, &QTcpSocket::readyRead, this, &KelpXmlRpcServerConnection::readFromSocket);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    requestTimer.setSingleShot(true);
    connect(&requestTimer, &QTimer::timeout, this, [this] {
        // A client may have sent nothing more because it is done; one that stalls in a
        // request is cut off.
        if (state == State::Idle)
            closeIdle();
        else
            abort();
    });
    requestTimer.start(host->requestTimeout());
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

bool KelpXmlRpcServerConnection::isIdle() const
{
    return state == State::Idle;
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

void KelpXmlRpcServerConnection::closeIdle()
{
    state = State::Completed;
    requestTimer.stop();
    if (socket)
        socket->disconnectFromHost();
}

void KelpXmlRpcServerConnection::releaseBuffer()
{
    host->releaseBuffer(claimed);
    claimed = 0;
}

void KelpXmlRpcServerConnection::readFromSocket()
{
    // A call being answered, by a slot that runs an event loop or later, keeps what follows
    // waiting in the socket; readRequests() takes it once the response has gone.
    if (state == State::Completed || state == State::Calling)
        return;
    received += socket->readAll();
    readRequests();
}

void KelpXmlRpcServerConnection::readRequests()
{
    while (state != State::Completed) {
        // A deferred response is awaited; what follows waits behind it.
        if (state == State::Calling)
            return;
        if (state == State::Idle) {
            if (socket)
                received += socket->readAll();
            // Some clients end a body with a line break that Content-Length does not count.
            while (received.startsWith("\r\n") || received.startsWith('\n'))
                received.remove(0, received.startsWith('\n') ? 1 : 2);
            if (received.isEmpty())
                return;
            state = State::ReadingHeader;
            searched = 0;
            requestTimer.start(host->requestTimeout());
        }
        if (state == State::ReadingHeader) {
            if (!readHeader())
                return;
            route();
            continue;
        }
        if (received.size() < requestHeader.contentLength())
            return;
        // On a connection that closes after this request, everything that has arrived goes
        // to the parser: a document with more than white space after it is not well-formed.
        const qsizetype length
            = requestHeader.keepsAlive() ? requestHeader.contentLength() : received.size();
        answer(length);
        const bool large = claimed >= LargeBody;
        releaseBuffer();
        if (large)
            giveBackFreedMemory();
    }
}

void KelpXmlRpcServerConnection::answer(qsizetype length)
{
    // The body's buffer goes with the answer, before the memory is given back; what follows
    // it is copied out, so that a large body leaves no buffer of its size behind.
    QByteArray body = std::exchange(received, QByteArray());
    if (length < body.size()) {
        received = body.sliced(length);
        body.truncate(length);
    }
    if (verdict.route == KelpRequestPolicy::Route::Call) {
        state = State::Calling;
        parseCall(body);
    } else {
        refuse(verdict);
    }
}

// Takes the header off what has been received; true once it is complete.
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
    if ((end < 0 ? received.size() : end) > KelpConnectionHost::MaxHeaderSize) {
        refuse("431 Request Header Fields Too Large");
        return false;
    }
    if (end < 0) {
        searched = received.size();
        return false;
    }
    requestHeader = KelpHttpRequestHeader(received.first(end));
    received.remove(0, end);
    return true;
}

void KelpXmlRpcServerConnection::route()
{
    verdict = KelpRequestPolicy::judge(
        requestHeader, host->hostNames(), KelpConnectionHost::MaxBodySize);
    if (verdict.debugLine)
        qCDebug(lcHttp, "%s", verdict.debugLine);
    switch (verdict.route) {
    case KelpRequestPolicy::Route::Document: {
        const KelpDocuments::Response response = host->document(
            requestHeader.method(), requestHeader.target(), requestHeader.ifNoneMatch());
        respond(response.status, response.fields, response.body);
        break;
    }
    case KelpRequestPolicy::Route::Refuse:
        refuse(verdict);
        break;
    case KelpRequestPolicy::Route::Call:
    case KelpRequestPolicy::Route::RefuseCall:
        if (!host->claimBuffer(requestHeader.contentLength())) {
            refuse("503 Service Unavailable");
            break;
        }
        claimed = requestHeader.contentLength();
        state = State::ReadingBody;
        break;
    }
}

void KelpXmlRpcServerConnection::refuse(const KelpRequestPolicy::Verdict &refused)
{
    if (refused.reason.isEmpty()) {
        refuse(refused.status, refused.fields);
        return;
    }
    host->warn(QStringLiteral("Refused request from \"%1\": %2")
                   .arg(peerAddress().toString(), refused.reason));
    const QByteArray text = refused.reason.toUtf8() + '\n';
    respond(refused.status,
        refused.fields + "Content-Type: text/plain; charset=utf-8\r\nContent-Length: "
            + QByteArray::number(text.size()) + "\r\n",
        text);
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
    requestTimer.stop();
    // A refusal closes: what follows its header may be anything.
    const bool keep = (status.startsWith("200 ") || status.startsWith("304 "))
        && requestHeader.keepsAlive() && ++answered < KelpConnectionHost::MaxRequestsPerConnection;
    QByteArray response = "HTTP/1.1 " + status + "\r\nServer: KelpXmlRpc/0.1\r\n" + fields;
    if (!keep)
        response += "Connection: close\r\n";
    else if (requestHeader.isHttp10())
        response += "Connection: keep-alive\r\n";
    socket->write(response + "\r\n" + body);
    if (keep) {
        state = State::Idle;
        requestTimer.start(host->idleTimeout());
    } else {
        state = State::Completed;
        socket->disconnectFromHost();
    }
}

void KelpXmlRpcServerConnection::parseCall(const QByteArray &body)
{
    QString method;
    QVariantList args;
    KelpFault fault;
    if (!KelpCodec::readCall(body, &method, &args, &fault)) {
        respondToCall(QVariant::fromValue(fault));
        return;
    }
    KelpCallContext context { peerAddress(), this };
    const QVariant result = host->call(method, args, &context);
    if (!context.deferred || context.deferred->isFinished()) {
        respondToCall(context.deferred ? context.deferred->result() : result);
        return;
    }
    // The wait is the slot's to bound: the request time-out is for clients that stall.
    requestTimer.stop();
    connect(context.deferred, &KelpDeferredResponse::finished, this, [this](const QVariant &later) {
        respondToCall(later);
        readRequests();
    });
}

void KelpXmlRpcServerConnection::respondToCall(const QVariant &result)
{
    const QByteArray response = KelpCodec::prepareResponse(result);
    respond("200 Ok",
        "Content-Type: text/xml\r\nContent-Length: " + QByteArray::number(response.size()) + "\r\n",
        response);
}
