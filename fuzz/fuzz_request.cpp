// Sends the input to a listening server over loopback TCP in pieces, running the event loop
// between them, as a kept connection gets its requests one after the other. Checks that every
// answer is a response the server documents, that nothing follows one that closes, and that the
// server lets go of the connection once the client has finished sending.
//
// Input: one control byte, then n two-byte little-endian piece lengths, then the bytes to send.
// n is the control byte's low four bits modulo 9; what the lengths leave over goes in a last
// piece. With bit 5 of the control byte set, the bytes go three times in a row, so that one
// request found becomes three on the connection. With both top bits set the client then
// stalls, so that the server has to give up on its own, instead of closing its side.

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

const QList<QByteArray> Refusals { "400 Bad Request", "404 Not Found", "405 Method Not Allowed",
    "411 Length Required", "413 Payload Too Large", "431 Request Header Fields Too Large",
    "503 Service Unavailable" };
// Refused with a line that says why.
const QList<QByteArray> ToldRefusals { "403 Forbidden", "415 Unsupported Media Type" };

// Each answer is one of the documented ones, framed by its Content-Length: a refusal, which
// closes, or a response document. A server that closes with unread request bytes resets the
// connection, which may cut its last answer short, so that one is judged only after an orderly
// close.
void checkAnswers(QByteArrayView answers, bool orderlyClose)
{
    while (!answers.isEmpty()) {
        const qsizetype headerEnd = answers.indexOf("\r\n\r\n");
        if (headerEnd < 0 || !answers.startsWith("HTTP/1.1 ")) {
            if (orderlyClose)
                abort();
            return;
        }
        const QByteArrayView header = answers.first(headerEnd + 2);
        const QByteArrayView status = header.sliced(9, header.indexOf("\r\n") - 9);
        constexpr QByteArrayView lengthField("\r\nContent-Length: ");
        const qsizetype lengthAt = header.indexOf(lengthField);
        if (lengthAt < 0)
            abort();
        const qsizetype lengthStart = lengthAt + lengthField.size();
        const qsizetype length
            = header.sliced(lengthStart, header.indexOf("\r\n", lengthStart) - lengthStart)
                  .toLongLong();
        if (answers.size() < headerEnd + 4 + length) {
            if (orderlyClose)
                abort();
            return;
        }
        const QByteArrayView body = answers.sliced(headerEnd + 4, length);
        answers = answers.sliced(headerEnd + 4 + length);
        const bool closes = header.contains("\r\nConnection: close\r\n");
        if (status == "200 Ok") {
            QDomDocument document;
            if (KelpCodec::readDocument(body.toByteArray(), &document)
                != KelpCodec::DocumentError::None)
                abort();
        } else if (!closes
            || (!Refusals.contains(status) || !body.isEmpty())
                && (!ToldRefusals.contains(status) || body.isEmpty())) {
            abort();
        }
        if (closes && !answers.isEmpty())
            abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fixture = FuzzFixture::start("fuzz_request");
    // Requests that never complete end quickly instead of after half a minute.
    fixture->server.setRequestTimeout(20);
    fixture->server.setIdleTimeout(20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t pieces = (data[0] & 0x0f) % 9;
    const bool stall = (data[0] & 0xc0) == 0xc0;
    const int rounds = (data[0] & 0x20) ? 3 : 1;
    size_t offset = 1;
    QList<size_t> lengths;
    for (size_t i = 0; i < pieces && offset + 2 <= size; ++i, offset += 2)
        lengths.append(data[offset] | size_t(data[offset + 1]) << 8);
    const QByteArray input
        = QByteArray(reinterpret_cast<const char *>(data) + offset, qsizetype(size - offset))
              .repeated(rounds);
    const char *bytes = input.constData();
    size_t left = size_t(input.size());

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, fixture->server.serverPort());
    if (!client.waitForConnected(DoneWithin))
        abort();
    QByteArray answer;
    const auto send = [&](size_t length) {
        // A client that has been cut off stops sending.
        if (client.state() != QAbstractSocket::ConnectedState)
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
    checkAnswers(answer, client.error() == QAbstractSocket::RemoteHostClosedError);
    return 0;
}
