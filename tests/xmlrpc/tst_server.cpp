#include "kelpCodec.h"
#include "kelpDeferredResponse.h"
#include "kelpFault.h"
#include "kelpObject.h"
#include "kelpXmlRpcClient.h"
#include "kelpXmlRpcServer.h"
#include "kelpXmlRpcServerConnection.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>

class Service : public QObject
{
    Q_OBJECT
public slots:
    int add(int a, int b) { return a + b; }
    double half(double value) { return value / 2; }
    int twice(int value) { return 2 * value; }
    int count() { return ++calls; }
    // Answers later, where it can.
    QString later()
    {
        caller = server->callerAddress();
        pending = server->deferResponse();
        return pending ? QString() : QStringLiteral("at once");
    }

public:
    int calls = 0;
    KelpXmlRpcServer *server = nullptr;
    QPointer<KelpDeferredResponse> pending;
    QHostAddress caller;

private slots:
    int secret() { return 42; }
};

namespace {

// Closing after the answer, so that an exchange ends when the server closes.
QByteArray post(const QByteArray &body)
{
    return "POST /RPC2 HTTP/1.1\r\nConnection: close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray call(const QString &method, const QVariantList &args = {})
{
    return post(KelpCodec::prepareCall(method, args));
}

// The 200 response carrying result, or the fault it holds.
QByteArray answer(const QVariant &result, bool close = true)
{
    const QByteArray body = KelpCodec::prepareResponse(result);
    return "HTTP/1.1 200 Ok\r\nServer: KelpXmlRpc/0.1\r\nContent-Type: text/xml\r\n"
           "Content-Length: "
        + QByteArray::number(body.size()) + "\r\n" + (close ? "Connection: close\r\n" : "") + "\r\n"
        + body;
}

QByteArray fault(int code, const char *text)
{
    return answer(QVariant::fromValue(KelpFault(code, text)));
}

// A call that leaves the connection open, unless fields say otherwise.
QByteArray keptCall(
    const QString &method, const QByteArray &fields = {}, const QByteArray &version = "1.1")
{
    const QByteArray body = KelpCodec::prepareCall(method, {});
    return "POST / HTTP/" + version + "\r\n" + fields
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Connects client to port, appending what it receives to *received.
bool connectClient(QTcpSocket *client, QByteArray *received, quint16 port)
{
    QObject::connect(client, &QTcpSocket::readyRead, client,
        [client, received] { *received += client->readAll(); });
    client->connectToHost(QHostAddress::LocalHost, port);
    return client->waitForConnected(5000);
}

void row(const char *tag, const QList<QByteArray> &segments, const QByteArray &response)
{
    QTest::newRow(tag) << segments << response;
}

// Sends the segments one by one and returns all that the server wrote before it closed.
QByteArray exchange(quint16 port, const QList<QByteArray> &segments)
{
    QTcpSocket socket;
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return "not connected";
    for (const QByteArray &segment : segments) {
        socket.write(segment);
        // Lets the server take each segment on its own; it must not answer before the last.
        if (segment != segments.last() && closed.wait(100))
            return "answered early: " + socket.readAll();
    }
    if (closed.isEmpty() && !closed.wait(5000))
        return "not closed";
    return socket.readAll();
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void request_data();
    void request();
    void registry();
    void listening();
    void keptConnections();
    void documents();
    void deferredResponses();

private:
    Service service;
    std::unique_ptr<KelpXmlRpcServer> server;
};

void TestServer::init()
{
    server = std::make_unique<KelpXmlRpcServer>(QHostAddress::LocalHost, 0);
    // Short, so that requests that never complete are closed within the test.
    server->setRequestTimeout(500);
    for (const char *name : { "add", "half", "twice", "secret", "count", "later" })
        server->addMethod(name, &service, name);
    service.server = server.get();
    QVERIFY(server->isListening());
}

void TestServer::request_data()
{
    QTest::addColumn<QList<QByteArray>>("segments");
    QTest::addColumn<QByteArray>("response");
    const QByteArray add = call("add", { 2, 3 });
    const QByteArray notWellFormed = fault(-32700, "parse error: not well formed");
    const QByteArray invalidParameters = fault(-32602, "server error: invalid method parameters");
    row("call", { add }, answer(5));
    row("segments", { add.left(3), add.mid(3, 30), add.mid(33, 90), add.mid(123) }, answer(5));
    row("blanks after body", { add + "\r\n " }, answer(5));
    row("junk after body", { add + "x" }, notWellFormed);
    row("lone LF lines never end the header", { "POST / HTTP/1.1\nContent-Length: 4\n\n<a/>" }, {});
    row("incomplete body", { "POST / HTTP/1.1\r\nContent-Length: 99\r\n\r\n<a>" }, {});
    row("no methodName", { post("<anything><params/></anything>") },
        fault(-32600, "server error: invalid xml-rpc. not conforming to spec"));
    row("no params element", { post("<m><methodName>secret</methodName></m>") }, answer(42));
    row("nil argument",
        { post("<m><methodName>half</methodName><params><param><value><nil/></value></param></"
               "params></m>") },
        invalidParameters);
    row("eleven arguments", { call("add", QVariantList(11, 1)) }, invalidParameters);
    row("65 arrays deep", { post("<a>" + QByteArray("<value><array><data>").repeated(65)) },
        fault(-32600, "server error: invalid xml-rpc. values nested too deep"));
}

void TestServer::request()
{
    QFETCH(QList<QByteArray>, segments);
    QFETCH(QByteArray, response);
    QCOMPARE(exchange(server->serverPort(), segments), response);
}

void TestServer::registry()
{
    const QByteArray notFound = fault(-32601, "server error: requested method not found");
    {
        Service other;
        server->addMethod("add", &other, "twice");
        server->removeMethod("half");
        server->removeMethod("never registered");
        QCOMPARE(exchange(server->serverPort(), { call("add", { 3 }) }), answer(6));
        QCOMPARE(exchange(server->serverPort(), { call("half", { 3.0 }) }), notFound);
    }
    // A served object that is gone is not called.
    QCOMPARE(exchange(server->serverPort(), { call("add", { 3 }) }), notFound);
}

void TestServer::listening()
{
    QVERIFY(server->serverPort() != 0);
    const KelpXmlRpcServer second(QHostAddress::LocalHost, server->serverPort());
    QVERIFY(!second.isListening());
    QVERIFY(!second.errorString().isEmpty());
}

void TestServer::keptConnections()
{
    const QByteArray port = QByteArray::number(server->serverPort());
    const auto request = [](const QByteArray &fields, const QByteArray &version = "1.1") {
        return keptCall("count", fields, version);
    };
    QTcpSocket client;
    QByteArray received;
    QVERIFY(connectClient(&client, &received, server->serverPort()));
    // Two in one write are answered in order, and the connection stays for a third.
    client.write(request("Host: localhost:" + port
                     + "\r\nContent-Type: text/xml; charset=utf-8\r\n"
                       "Origin: http://LOCALHOST:"
                     + port + "\r\n")
        + request("Host: 127.0.0.1:" + port + "\r\n"));
    QTRY_COMPARE(received, answer(1, false) + answer(2, false));
    received.clear();
    client.write(request("Connection: close\r\n"));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(received, answer(3));

    // HTTP/1.0 keeps only when asked to, and is told so.
    QCOMPARE(exchange(server->serverPort(), { request({}, "1.0") }), answer(4));
    server->setIdleTimeout(100);
    const QByteArray kept = answer(5, false);
    QCOMPARE(exchange(server->serverPort(), { request("Connection: keep-alive\r\n", "1.0") }),
        kept.first(kept.indexOf("\r\n\r\n")) + "\r\nConnection: keep-alive"
            + kept.mid(kept.indexOf("\r\n\r\n")));

    // What a browser sends from another site's page: refused once its body has been read, with
    // the policy's reason, nothing called and the connection closed.
    const QByteArray foreignHost = "Host: Evil.example:" + port + "\r\n";
    const QByteArray told = "Host \"Evil.example\" is not a name of this machine; add it to "
                            "MONOPANEL_HOSTS to accept calls addressed to it";
    QTest::ignoreMessage(QtWarningMsg, "Refused request from \"127.0.0.1\": " + told);
    QCOMPARE(exchange(server->serverPort(), { request(foreignHost) }),
        "HTTP/1.1 403 Forbidden\r\nServer: KelpXmlRpc/0.1\r\nContent-Type: text/plain; "
        "charset=utf-8\r\nContent-Length: "
            + QByteArray::number(told.size() + 1) + "\r\nConnection: close\r\n\r\n" + told + '\n');
    QCOMPARE(service.calls, 5);

    // Our client keeps its connection, and opens a new one once the server has closed it.
    KelpXmlRpcClient ours(QUrl("http://localhost:" + port));
    const auto callCount = [&ours] {
        int value = -1;
        KelpObject *pending = ours.call("count");
        connect(pending, &KelpObject::aresponse, pending,
            [&value](const QVariant &result, QNetworkReply *) { value = result.toInt(); });
        return QTest::qWaitFor([&value] { return value >= 0; }, 5000) ? value : -1;
    };
    QCOMPARE(callCount(), 6);
    const auto open = [this] { return server->findChildren<KelpXmlRpcServerConnection *>(); };
    QCOMPARE(open().size(), 1);
    QPointer<KelpXmlRpcServerConnection> first = open().first();
    QCOMPARE(callCount(), 7);
    QVERIFY(first);
    QTRY_VERIFY(!first);
    QCOMPARE(callCount(), 8);
    server->setAllowedHosts({ "evil.example" });
    QCOMPARE(exchange(server->serverPort(), { request(foreignHost + "Connection: close\r\n") }),
        answer(9));
}

void TestServer::documents()
{
    // The folder's index.html is its page, the other files are at their paths below it.
    const QByteArray page = "<!DOCTYPE html><p>instrument</p>";
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir("script"));
    for (const auto &[name, bytes] : { std::pair<QString, QByteArray>("index.html", page),
             std::pair<QString, QByteArray>("script/panel.js", "show();") }) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    server->addDocuments(folder.path());
    const quint16 port = server->serverPort();
    const auto get
        = [](const QByteArray &method, const QByteArray &target, const QByteArray &fields = {}) {
              return method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + fields
                  + "Connection: close\r\n\r\n";
          };
    const QByteArray served = exchange(port, { get("GET", "/?from=bookmark") });
    const qsizetype end = served.indexOf("\r\n\r\n");
    QByteArray header = served.first(end + 2);
    QVERIFY2(header.startsWith("HTTP/1.1 200 Ok\r\n"), served.constData());
    for (const QByteArray &field : { QByteArray("Content-Type: text/html; charset=utf-8"),
             "Content-Length: " + QByteArray::number(page.size()),
             QByteArray("Cache-Control: no-cache"), QByteArray("X-Content-Type-Options: nosniff"),
             QByteArray("Content-Security-Policy: default-src 'self'; ") })
        QVERIFY2(header.contains("\r\n" + field), field.constData());
    QCOMPARE(served.mid(end + 4), page);
    const QRegularExpression etagField("\r\nETag: (\"[^\"]+\")\r\n");
    const QByteArray etag = etagField.match(QString::fromLatin1(header)).captured(1).toLatin1();
    QVERIFY(!etag.isEmpty());

    // HEAD: the same header without the body; an unchanged page is not sent again.
    QCOMPARE(exchange(port, { get("HEAD", "/") }), header + "\r\n");
    QVERIFY(exchange(port, { get("GET", "/", "If-None-Match: " + etag + "\r\n") })
                .startsWith("HTTP/1.1 304 Not Modified\r\n"));
    QCOMPARE(exchange(port, { get("GET", "/panel.js") }),
        "HTTP/1.1 404 Not Found\r\nServer: KelpXmlRpc/0.1\r\nContent-Length: 0\r\n"
        "Connection: close\r\n\r\n");
    QVERIFY(exchange(port, { get("HEAD", "/script/panel.js") })
                .contains("\r\nContent-Type: text/javascript; charset=utf-8\r\n"));

    // A browser loads the page and calls on the same kept connection.
    const QByteArray both
        = exchange(port, { "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" + call("add", { 2, 3 }) });
    QVERIFY2(both.startsWith(header.replace("\r\nConnection: close", "")), both.constData());
    QVERIFY(both.endsWith(page + answer(5)));
}

// A response given later keeps its connection's later requests behind it, and no other
// connection waits; a client that hangs up takes the response with it.
void TestServer::deferredResponses()
{
    QTcpSocket client;
    QByteArray received;
    QVERIFY(connectClient(&client, &received, server->serverPort()));
    const int counted = service.calls;
    client.write(keptCall("later") + keptCall("count"));
    QTRY_VERIFY(service.pending);
    QCOMPARE(service.caller, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(exchange(server->serverPort(), { call("count") }), answer(counted + 1));
    // Longer than the request time-out, which a wait does not count against.
    QTest::qWait(600);
    QVERIFY(received.isEmpty());
    service.pending->finish(QStringLiteral("done"));
    QTRY_COMPARE(received, answer(QStringLiteral("done"), false) + answer(counted + 2, false));
    QTRY_VERIFY(!service.pending);

    client.write(keptCall("later"));
    QTRY_VERIFY(service.pending);
    client.abort();
    QTRY_VERIFY(!service.pending);

    // A multicall answers all its calls at once.
    const QVariantList calls { QVariantMap {
        { "methodName", QStringLiteral("later") }, { "params", QVariantList() } } };
    QCOMPARE(exchange(server->serverPort(), { call("system.multicall", { QVariant(calls) }) }),
        answer(QVariantList { QVariantList { QStringLiteral("at once") } }));
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
