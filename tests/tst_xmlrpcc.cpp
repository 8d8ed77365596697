#include "calloutcome.h"
#include "triaxcontroller.h"
#include "triaxsimulator.h"
#include "xmlrpcserver.h"

#include <QTest>

#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/client.hpp>
#include <xmlrpc-c/registry.hpp>
#include <xmlrpc-c/server_abyss.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <string>
#include <thread>

// The C library xmlrpc-c as the peer that refuses what is not strictly XML-RPC: its client
// drives the simulated instrument through our server, and our client calls its server.
namespace {

// What a user of xmlrpc-c gets from one call: the result, the fault as "code: text", or
// the library's own error as "error: text".
QVariant xmlrpccCall(quint16 port, const std::string &method, const xmlrpc_c::paramList &params)
{
    try {
        xmlrpc_c::clientXmlTransport_curl transport(
            xmlrpc_c::clientXmlTransport_curl::constrOpt().timeout(10000));
        xmlrpc_c::client_xml client(&transport);
        xmlrpc_c::carriageParm_curl0 carriage("http://127.0.0.1:" + std::to_string(port) + "/RPC2");
        const xmlrpc_c::rpcPtr rpc(method, params);
        rpc->call(&client, &carriage);
        if (!rpc->isSuccessful()) {
            const xmlrpc_c::fault fault = rpc->getFault();
            return QString::number(fault.getCode()) + ": "
                + QString::fromStdString(fault.getDescription());
        }
        const xmlrpc_c::value result = rpc->getResult();
        switch (result.type()) {
        case xmlrpc_c::value::TYPE_INT:
            return int(xmlrpc_c::value_int(result));
        case xmlrpc_c::value::TYPE_DOUBLE:
            return double(xmlrpc_c::value_double(result));
        case xmlrpc_c::value::TYPE_STRING:
            return QString::fromStdString(std::string(xmlrpc_c::value_string(result)));
        default:
            return QStringLiteral("result of type %1").arg(int(result.type()));
        }
    } catch (const std::exception &error) {
        return QStringLiteral("error: ") + QString::fromUtf8(error.what());
    }
}

// The xmlrpc-c client blocks, so it runs on a thread of its own while our server serves.
QVariant callFromXmlrpcc(
    quint16 port, const std::string &method, const xmlrpc_c::paramList &params = {})
{
    auto outcome = std::async(std::launch::async, xmlrpccCall, port, method, params);
    const bool done = QTest::qWaitFor(
        [&outcome] {
            return outcome.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        },
        15000);
    return done ? outcome.get() : QVariant(QStringLiteral("no outcome"));
}

class Echo : public xmlrpc_c::method
{
public:
    void execute(const xmlrpc_c::paramList &params, xmlrpc_c::value *result) override
    {
        params.verifyEnd(1);
        *result = params[0];
    }
};

class Fail : public xmlrpc_c::method
{
public:
    void execute(const xmlrpc_c::paramList &, xmlrpc_c::value *) override
    {
        throw xmlrpc_c::fault("seven", xmlrpc_c::fault::code_t(7));
    }
};

// An xmlrpc-c server on a loopback port of the system's choice, serving echo and fail on a
// thread of its own while it exists.
class XmlrpccServer
{
public:
    XmlrpccServer()
    {
        registry.addMethod("echo", xmlrpc_c::methodPtr(new Echo));
        registry.addMethod("fail", xmlrpc_c::methodPtr(new Fail));
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        listener = socket(AF_INET, SOCK_STREAM, 0);
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        server = std::make_unique<xmlrpc_c::serverAbyss>(
            xmlrpc_c::serverAbyss::constrOpt().registryP(&registry).socketFd(listener).logFileName(
                "/dev/null"));
        serving = std::thread([this] { server->run(); });
    }

    ~XmlrpccServer()
    {
        if (server) {
            server->terminate();
            serving.join();
        }
        server.reset();
        if (listener >= 0)
            close(listener);
    }

    XmlrpccServer(const XmlrpccServer &) = delete;
    XmlrpccServer &operator=(const XmlrpccServer &) = delete;

    // 0 when the server could not be set up.
    quint16 port = 0;

private:
    xmlrpc_c::registry registry;
    int listener = -1;
    std::unique_ptr<xmlrpc_c::serverAbyss> server;
    std::thread serving;
};

} // namespace

class TestXmlrpcc : public QObject
{
    Q_OBJECT
private slots:
    void xmlrpccDrivesTheInstrument();
    void clientReadsXmlrpcc();
};

// Each kind of answer the instrument's methods give: an int, a double, the empty text of a
// taken request and the faults.
void TestXmlrpcc::xmlrpccDrivesTheInstrument()
{
    TriaxSimulator::Options options;
    options.wavelength = 546.07;
    TriaxSimulator simulator(options);
    QVERIFY2(simulator.isValid(), qPrintable(simulator.errorString()));
    TriaxController controller(simulator.devicePath());
    ServerXmlRPC remoteApi(&controller, 0);
    const quint16 port = remoteApi.serverPort();
    QVERIFY(port != 0);

    QCOMPARE(callFromXmlrpcc(port, "connect"), QVariant(0));
    QVERIFY(QTest::qWaitFor(
        [&controller] { return controller.ready() == 1 && controller.queuedCommands().isEmpty(); },
        10000));
    QCOMPARE(callFromXmlrpcc(port, "getWavelength"), QVariant(546.075));
    xmlrpc_c::paramList wavelength;
    wavelength.addc(546.07);
    QCOMPARE(callFromXmlrpcc(port, "setWavelength", wavelength), QVariant(QString("")));

    xmlrpc_c::paramList wrongType;
    wrongType.addc(500);
    QCOMPARE(callFromXmlrpcc(port, "setWavelength", wrongType),
        QVariant("-32602: server error: invalid method parameters"));
    QCOMPARE(callFromXmlrpcc(port, "setWaveLength", wavelength),
        QVariant("-32601: server error: requested method not found"));
}

void TestXmlrpcc::clientReadsXmlrpcc()
{
    XmlrpccServer server;
    QVERIFY(server.port != 0);
    KelpXmlRpcClient client(QUrl("http://127.0.0.1:" + QString::number(server.port) + "/RPC2"));
    const QVariantList values { -7, 2.5, 1234.575, 1e21,
        QString::fromUtf8("\xc3\xa9 \xe2\x98\xba <&>"), QVariantList { 1, "two", QVariantList {} },
        QVariantMap { { "k", QVariantList { "v", 0.5 } }, { "n", QVariantMap {} } } };
    for (const QVariant &value : values)
        QCOMPARE(callOutcome(client, "echo", { value }), value);
    QCOMPARE(callOutcome(client, "fail"), QVariant("7: seven"));
}

QTEST_MAIN(TestXmlrpcc)
#include "tst_xmlrpcc.moc"
