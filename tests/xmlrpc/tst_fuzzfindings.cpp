#include "fuzzprobe.h"
#include "kelpCodec.h"
#include "kelpFault.h"
#include "kelpXmlRpcServer.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

// Replays the inputs with which the fuzz targets once found a fault (fuzz/regressions/, one
// directory per target) through the code path of the target that found each.
class TestFuzzFindings : public QObject
{
    Q_OBJECT
private slots:
    void callIsAnsweredWithResponseDocument_data();
    void callIsAnsweredWithResponseDocument();
};

void TestFuzzFindings::callIsAnsweredWithResponseDocument_data()
{
    QTest::addColumn<QByteArray>("input");
    const QDir directory(QStringLiteral(FUZZ_REGRESSIONS_DIR "/fuzz_call"));
    const QStringList names = directory.entryList(QDir::Files, QDir::Name);
    QVERIFY2(!names.isEmpty(), qPrintable(directory.path()));
    for (const QString &name : names) {
        QFile file(directory.filePath(name));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QTest::newRow(qPrintable(name)) << file.readAll();
    }
}

// The input is the body of a call to the probe's methods; whatever it holds, and whatever the
// method returns, the answer is one well-formed response document, and a body that is not a
// document is answered with the fault that says why.
void TestFuzzFindings::callIsAnsweredWithResponseDocument()
{
    QFETCH(QByteArray, input);
    FuzzProbe probe;
    KelpXmlRpcServer server(QHostAddress::LocalHost, 0);
    QVERIFY(server.isListening());
    probe.serveOn(server);

    QTcpSocket client;
    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write("POST /RPC2 HTTP/1.1\r\nConnection: close\r\nContent-Length: "
        + QByteArray::number(input.size()) + "\r\n\r\n" + input);
    QVERIFY(closed.wait(5000));
    const QByteArray answer = client.readAll();

    const QByteArray head = "HTTP/1.1 200 Ok\r\n";
    QVERIFY2(answer.startsWith(head), answer.constData());
    QDomDocument document;
    QString error;
    const auto read
        = KelpCodec::readDocument(answer.mid(answer.indexOf("\r\n\r\n") + 4), &document, &error);
    QVERIFY2(read == KelpCodec::DocumentError::None, qPrintable(error));
    QCOMPARE(document.documentElement().tagName(), QStringLiteral("methodResponse"));

    const QDomElement fault = document.documentElement().firstChildElement("fault");
    const int faultCode
        = KelpCodec::fromXml(fault.firstChildElement("value")).toMap().value("faultCode").toInt();
    QDomDocument call;
    switch (KelpCodec::readDocument(input, &call)) {
    case KelpCodec::DocumentError::NotWellFormed:
        QCOMPARE(faultCode, KelpFault::notWellFormed().faultCode());
        break;
    case KelpCodec::DocumentError::NestedTooDeep:
        QCOMPARE(faultCode, KelpFault::nestedTooDeep().faultCode());
        break;
    case KelpCodec::DocumentError::None:
        break;
    }
}

QTEST_GUILESS_MAIN(TestFuzzFindings)
#include "tst_fuzzfindings.moc"
