#include "calloutcome.h"
#include "kelpFault.h"
#include "kelpObject.h"
#include "kelpXmlRpcClient.h"
#include "kelpXmlRpcServer.h"

#include <QDateTime>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

class Echo : public QObject
{
    Q_OBJECT
public slots:
    int echo(int value) { return value; }
    double echo(double value) { return value; }
    bool echo(bool value) { return value; }
    QString echo(const QString &value) { return value; }
    QByteArray echo(const QByteArray &value) { return value; }
    QDateTime echo(const QDateTime &value) { return value; }
    QVariantList echo(const QVariantList &value) { return value; }
    QVariantMap echo(const QVariantMap &value) { return value; }
    int add(int a, int b) { return a + b; }
    void nothing() { }
    QVariant refuse() { return QVariant::fromValue(KelpFault(4, "refused")); }
};

class TestInterop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pythonClient();
    void pythonServer();

private:
    const QString python = QStringLiteral(PYTHON3_EXECUTABLE);
};

void TestInterop::initTestCase()
{
    if (python.isEmpty())
        QSKIP("python3 not found");
}

void TestInterop::pythonClient()
{
    Echo echo;
    KelpXmlRpcServer server(QHostAddress::LocalHost, 0);
    for (const char *name : { "echo", "add", "nothing", "refuse" })
        server.addMethod(name, &echo, name);
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    QSignalSpy finished(&client, &QProcess::finished);
    client.start(python,
        { QStringLiteral(INTEROP_DIR "/interop_client.py"), QString::number(server.serverPort()) });
    QVERIFY(finished.wait(30000));
    QVERIFY2(client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0,
        client.readAll().constData());
    KelpXmlRpcClient ours(QUrl("http://127.0.0.1:" + QString::number(server.serverPort())));
    QCOMPARE(callOutcome(ours, "add", { 2, 3 }), QVariant(5));
}

void TestInterop::pythonServer()
{
    QProcess server;
    server.start(python, { QStringLiteral(INTEROP_DIR "/interop_server.py") });
    QVERIFY(server.waitForReadyRead(15000));
    const QString address = "http://127.0.0.1:" + server.readLine().trimmed();
    KelpXmlRpcClient client(QUrl(address + "/RPC2"));
    const QVariantList values { -7, 2.5, 1234.575, 1e21, 1.5e-7, true,
        QString::fromUtf8("\xc3\xa9 \xe2\x98\xba <&>"), QByteArray("\0\x01\xff", 3),
        QDateTime(QDate(2026, 12, 7), QTime(11, 42, 38)),
        QVariantMap { { "k", QVariantList { "v", 0.5 } } } };
    QCOMPARE(callOutcome(client, "echo", { QVariant(values) }), QVariant(values));
    QCOMPARE(callOutcome(client, "fail"), QVariant("7: seven"));
    KelpXmlRpcClient wrongPath(QUrl(address + "/nowhere"));
    QCOMPARE(callOutcome(wrongPath, "echo", { 1 }),
        QVariant("-32300: transport error: HTTP 404 Not Found"));
    server.closeWriteChannel();
    QVERIFY(server.waitForFinished(15000));
    QCOMPARE(callOutcome(client, "echo", { 1 }),
        QVariant("-32300: transport error: Connection refused"));
}

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
