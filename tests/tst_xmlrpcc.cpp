#include "triaxcontroller.h"
#include "triaxsimulator.h"
#include "xmlrpcserver.h"

#include <QTest>

#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/client.hpp>

#include <chrono>
#include <exception>
#include <future>
#include <string>

// The C library xmlrpc-c as the peer that refuses what is not strictly XML-RPC: its client
// drives the simulated instrument through our server. (Our client against a foreign server is
// the library's interoperability test.)
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

} // namespace

class TestXmlrpcc : public QObject
{
    Q_OBJECT
private slots:
    void xmlrpccDrivesTheInstrument();
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

QTEST_MAIN(TestXmlrpcc)
#include "tst_xmlrpcc.moc"
