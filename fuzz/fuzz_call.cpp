// Hands the input to a server connection as the body of a call and checks that the answer is
// exactly one well-formed response document, whatever the body holds, and that where the plain
// reader takes the call it reads what the DOM reads.

#include "fuzzfixture.h"
#include "kelpCodec.h"
#include "kelpFault.h"
#include "kelpPlainReader.h"
#include "kelpXmlRpcServer.h"
#include "kelpXmlRpcServerConnection.h"

#include <QDomDocument>
#include <QTcpSocket>

#include <cstdint>
#include <cstdlib>

namespace {

// A socket that is connected to nothing and keeps what the connection writes to it.
class CaptureSocket : public QTcpSocket
{
public:
    CaptureSocket()
    {
        setSocketState(ConnectedState);
        setOpenMode(ReadWrite);
    }

    void disconnectFromHost() override
    {
        ++disconnects;
        setSocketState(UnconnectedState);
    }

    QByteArray written;
    int disconnects = 0;

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        written.append(data, size);
        return size;
    }
};

FuzzFixture *fixture = nullptr;

const QByteArray ResponseHead = "HTTP/1.1 200 Ok\r\nServer: KelpXmlRpc/0.1\r\n"
                                "Content-Type: text/xml\r\nContent-Length: ";

// Where the plain reader takes a call, the body is a document and holds the same call.
// Arguments are compared as written, which holds a NaN equal to itself.
void checkPlainReader(
    const QByteArray &body, KelpCodec::DocumentError read, const QDomDocument &document)
{
    QString plainMethod;
    QVariantList plainArgs;
    if (!KelpPlainReader::readCall(body, &plainMethod, &plainArgs))
        return;
    QString method;
    QVariantList args;
    if (read != KelpCodec::DocumentError::None
        || !KelpCodec::callFromDocument(document, &method, &args) || method != plainMethod
        || KelpCodec::prepareCall(method, args) != KelpCodec::prepareCall(method, plainArgs))
        abort();
}

// 0 for a response that carries a result.
int faultCode(const QDomDocument &response)
{
    const QDomElement fault = response.documentElement().firstChildElement(QStringLiteral("fault"));
    if (fault.isNull())
        return 0;
    const QVariantMap map
        = KelpCodec::fromXml(fault.firstChildElement(QStringLiteral("value"))).toMap();
    return map.value(QStringLiteral("faultCode")).toInt();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fixture = FuzzFixture::start("fuzz_call");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    QDomDocument call;
    const KelpCodec::DocumentError read = KelpCodec::readDocument(body, &call);
    checkPlainReader(body, read, call);
    CaptureSocket socket;
    {
        KelpXmlRpcServerConnection connection(&socket, &fixture->server, nullptr);
        connection.parseCall(body);
        if (!connection.hasCompletedRequest())
            abort();
    }
    // The connection's destructor has handed the socket to deleteLater(); no event loop runs
    // before the socket goes out of scope, and its destruction withdraws that deletion.
    const qsizetype headerEnd = socket.written.indexOf("Connection: close\r\n\r\n");
    if (socket.disconnects != 1 || !socket.written.startsWith(ResponseHead) || headerEnd < 0)
        abort();
    QDomDocument response;
    if (KelpCodec::readDocument(socket.written.mid(headerEnd + 21), &response)
            != KelpCodec::DocumentError::None
        || response.documentElement().tagName() != QLatin1String("methodResponse"))
        abort();
    // A body that is not a document is answered with the fault that says why.
    const int code = faultCode(response);
    if ((read == KelpCodec::DocumentError::NotWellFormed
            && code != KelpFault::notWellFormed().faultCode())
        || (read == KelpCodec::DocumentError::NestedTooDeep
            && code != KelpFault::nestedTooDeep().faultCode()))
        abort();
    return 0;
}
