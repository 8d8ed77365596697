// Hands the input to a server connection as the body of a call and checks that the answer is
// exactly one well-formed response document, whatever the body holds, and that where the plain
// reader takes the call it reads what the DOM reads.

#include "fuzzfixture.h"
#include "kelpObject.h"
#include "kelpPlainXml.h"
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
                                "Content-Type: text/xml\r\nConnection: close\r\n\r\n";

// The call in a document as the connection reads it when the plain reader declines.
bool domCall(const QDomDocument &document, QString *method, QVariantList *args)
{
    const QDomElement root = document.documentElement();
    const QDomElement name = root.firstChildElement(QStringLiteral("methodName"));
    if (name.isNull())
        return false;
    *method = name.text();
    const QDomElement params = root.firstChildElement(QStringLiteral("params"));
    for (QDomNode param = params.firstChild(); !param.isNull(); param = param.nextSibling())
        args->append(KelpObject::fromXml(param.firstChild().toElement()));
    return true;
}

// Where the plain reader takes a call, the body is a document and holds the same call.
// Arguments are compared as written, which holds a NaN equal to itself.
void checkPlainReader(
    const QByteArray &body, KelpObject::DocumentError read, const QDomDocument &document)
{
    QString plainMethod;
    QVariantList plainArgs;
    if (!KelpPlainXml::readCall(body, &plainMethod, &plainArgs))
        return;
    QString method;
    QVariantList args;
    if (read != KelpObject::DocumentError::None || !domCall(document, &method, &args)
        || method != plainMethod
        || KelpObject::prepareCall(method, args) != KelpObject::prepareCall(method, plainArgs))
        abort();
}

// 0 for a response that carries a result.
int faultCode(const QDomDocument &response)
{
    const QDomElement fault = response.documentElement().firstChildElement(QStringLiteral("fault"));
    if (fault.isNull())
        return 0;
    const QVariantMap map
        = KelpObject::fromXml(fault.firstChildElement(QStringLiteral("value"))).toMap();
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
    const KelpObject::DocumentError read = KelpObject::readDocument(body, &call);
    checkPlainReader(body, read, call);
    CaptureSocket socket;
    {
        KelpXmlRpcServerConnection connection(&socket, KelpXmlRpcServer::RequestTimeout);
        QObject::connect(&connection, &KelpXmlRpcServerConnection::callReceived, &fixture->server,
            &KelpXmlRpcServer::answer, Qt::DirectConnection);
        connection.parseCall(body);
        if (!connection.hasCompletedRequest())
            abort();
    }
    // The connection's destructor has handed the socket to deleteLater(); no event loop runs
    // before the socket goes out of scope, and its destruction withdraws that deletion.
    if (socket.disconnects != 1 || !socket.written.startsWith(ResponseHead))
        abort();
    QDomDocument response;
    if (KelpObject::readDocument(socket.written.mid(ResponseHead.size()), &response)
            != KelpObject::DocumentError::None
        || response.documentElement().tagName() != QLatin1String("methodResponse"))
        abort();
    // A body that is not a document is answered with the fault that says why.
    const int code = faultCode(response);
    if ((read == KelpObject::DocumentError::NotWellFormed && code != -32700)
        || (read == KelpObject::DocumentError::NestedTooDeep
            && code != KelpObject::NestedTooDeepFault))
        abort();
    return 0;
}
