// Sends the input to a listening server over loopback TCP in pieces, running the event loop
// between them, and checks that the server answers at most once with a response it documents,
// and that it lets go of the connection once the client has finished sending.
//
// Input: one control byte, then n two-byte little-endian piece lengths, then the bytes to send.
// n is the control byte's low four bits modulo 9; what the lengths leave over goes in a last
// piece. With both top bits of the control byte set the client then stalls, so that the server
// has to give up on its own, instead of closing its side.

#include "fuzzfixture.h"
#include "kelpCodec.h"
#include "kelpXmlRpcServer.h"
#include "kelpXmlRpcServerConnection.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>

namespace {

FuzzFixture *fixture = nullptr;

// Far more than a loopback exchange needs; past it the server has failed to let go.
constexpr qint64 DoneWithin = 2000;

// Twice, so that a connection the server accepts in the first pass reads in the second.
void runEvents()
{
    for (int pass = 0; pass < 2; ++pass) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

bool serverIsDone()
{
    return fixture->server.findChildren<KelpXmlRpcServerConnection *>().isEmpty();
}

const QList<QByteArray> Refusals { "400 Bad Request", "405 Method Not Allowed",
    "411 Length Required", "413 Payload Too Large", "431 Request Header Fields Too Large" };

// An answer is one of the documented ones: a refusal without a body or a response document.
// A server that closes with unread request bytes resets the connection, which may cut its
// answer short, so the body is judged only after an orderly close.
void checkAnswer(const QByteArray &answer, bool orderlyClose)
{
    if (answer.isEmpty())
        return;
    const qsizetype headerEnd = answer.indexOf("\r\n\r\n");
    if (headerEnd < 0 || !answer.startsWith("HTTP/1.1 "))
        abort();
    const QByteArray status = answer.mid(9, answer.indexOf("\r\n") - 9);
    const QByteArray body = answer.mid(headerEnd + 4);
    if (status == "200 Ok") {
        if (!orderlyClose)
            return;
        QDomDocument document;
        if (KelpCodec::readDocument(body, &document) != KelpCodec::DocumentError::None)
            abort();
        return;
    }
    if (!Refusals.contains(status) || !body.isEmpty())
        abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fixture = FuzzFixture::start("fuzz_request");
    // Requests that never complete end quickly instead of after half a minute.
    fixture->server.setRequestTimeout(20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t pieces = (data[0] & 0x0f) % 9;
    const bool stall = (data[0] & 0xc0) == 0xc0;
    size_t offset = 1;
    QList<size_t> lengths;
    for (size_t i = 0; i < pieces && offset + 2 <= size; ++i, offset += 2)
        lengths.append(data[offset] | size_t(data[offset + 1]) << 8);
    const char *bytes = reinterpret_cast<const char *>(data) + offset;
    size_t left = size - offset;

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, fixture->server.serverPort());
    if (!client.waitForConnected(DoneWithin))
        abort();
    QByteArray answer;
    const auto send = [&](size_t length) {
        // A client that has been answered or cut off stops sending.
        if (client.state() != QAbstractSocket::ConnectedState || !answer.isEmpty())
            return;
        client.write(bytes, qint64(length));
        client.flush();
        bytes += length;
        left -= length;
        runEvents();
        answer += client.readAll();
    };
    for (const size_t length : std::as_const(lengths))
        send(std::min(length, left));
    send(left);

    // Half-close: the server sees the end of the request and may still answer.
    if (!stall && client.state() == QAbstractSocket::ConnectedState)
        ::shutdown(int(client.socketDescriptor()), SHUT_WR);
    // Wakes the wait below even when nothing else happens.
    QTimer tick;
    tick.start(5);
    QElapsedTimer timer;
    timer.start();
    while (!serverIsDone() || client.state() != QAbstractSocket::UnconnectedState) {
        if (timer.hasExpired(DoneWithin))
            abort();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        answer += client.readAll();
    }
    checkAnswer(answer, client.error() == QAbstractSocket::RemoteHostClosedError);
    return 0;
}
