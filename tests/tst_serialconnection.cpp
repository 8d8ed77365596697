#include "pseudoterminal.h"
#include "serialconnection.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <memory>

class TestSerialConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void transmitWritesExactBytes();
    void emptyInputArmsNothing();
    void closedPort();
    void bytesBetweenReceptions();
    void secondWriteRestartsTheWait();
    void openPortReturnCodes();
    void eventDrivenMode();

private:
    std::unique_ptr<SerialConnection> openLink(int queryMode = SerialConnection::Polling);

    std::unique_ptr<PseudoTerminal> instrument;
};

void TestSerialConnection::init()
{
    instrument = std::make_unique<PseudoTerminal>();
    QVERIFY(instrument->isValid());
}

std::unique_ptr<SerialConnection> TestSerialConnection::openLink(int queryMode)
{
    auto link = std::make_unique<SerialConnection>(
        instrument->devicePath(), 19200, 8, 0, 0, 0, queryMode);
    if (link->openPort() != 1)
        qWarning("could not open %s: %s", qPrintable(instrument->devicePath()),
            qPrintable(link->statusMsg));
    return link;
}

// Each overload writes exactly its bytes. One byte more than they are is asked for, so that a
// byte too many would show.
void TestSerialConnection::transmitWritesExactBytes()
{
    auto link = openLink();
    link->transmitMsg(QStringLiteral("H0"), QStringLiteral("\r"), 50);
    QCOMPARE(instrument->read(4, 300), QByteArray("H0\r"));
    link->transmitMsg(QStringLiteral("E"), QString(), 50);
    QCOMPARE(instrument->read(2, 300), QByteArray("E"));
    // Text goes out as Latin-1.
    link->transmitMsg(QString(QChar(0xe9)), QString(), 50);
    QCOMPARE(instrument->read(2, 300), QByteArray("\xe9"));
    link->transmitMsg("O2000\0", 6, 50);
    QCOMPARE(instrument->read(7, 300), QByteArray::fromHex("4f3230303000"));
    link->transmitMsg(QByteArray("j0,2"), QByteArray("\r"), 50);
    QCOMPARE(instrument->read(6, 300), QByteArray("j0,2\r"));
    link->transmitMsg(QByteArray("\x00\x01", 2), 50);
    QCOMPARE(instrument->read(3, 300), QByteArray("\x00\x01", 2));
}

void TestSerialConnection::emptyInputArmsNothing()
{
    auto link = openLink();
    QSignalSpy received(link.get(), &SerialConnection::endReception);
    link->transmitMsg(QString(), QStringLiteral("\r"), 20);
    link->transmitMsg(QByteArray(), QByteArray("\r"), 20);
    link->transmitMsg(QByteArray(), 20);
    QVERIFY(!received.wait(200));
    QVERIFY(instrument->readFor(50).isEmpty());

    // A zero waiting time writes without arming a reception.
    link->transmitMsg(QStringLiteral("E"), QString(), 0);
    QCOMPARE(instrument->read(1, 300), QByteArray("E"));
    QVERIFY(!received.wait(200));
}

void TestSerialConnection::closedPort()
{
    auto link = openLink();
    QSignalSpy received(link.get(), &SerialConnection::endReception);
    // Closing does not stop a pending wait; it ends with nothing received.
    link->transmitMsg(QStringLiteral("E"), QString(), 50);
    link->closePort();
    QVERIFY(received.wait(1000));
    QCOMPARE(link->rxMsg, QByteArray("RX_ERROR: empty answer/timeout ?"));

    // A write to a closed port is reported at once, inside the call.
    received.clear();
    link->transmitMsg(QStringLiteral("E"), QString(), 50);
    QCOMPARE(received.size(), 1);
    QVERIFY(link->rxMsg.startsWith("TX_ERROR: "));
    link->transmitMsg("\xf8", 1, 50);
    QCOMPARE(received.size(), 2);
    QVERIFY(!received.wait(150));
}

// Bytes that arrive between receptions belong to the next one, unless flushed.
void TestSerialConnection::bytesBetweenReceptions()
{
    auto link = openLink();
    QSignalSpy received(link.get(), &SerialConnection::endReception);
    link->transmitMsg(QStringLiteral("E"), QString(), 100);
    QCOMPARE(instrument->read(1, 300), QByteArray("E"));
    instrument->write("o");
    QVERIFY(received.wait(1000));
    QCOMPARE(link->rxMsg, QByteArray("o"));

    instrument->write("z");
    link->transmitMsg(QStringLiteral("E"), QString(), 100);
    QVERIFY(received.wait(1000));
    QCOMPARE(link->rxMsg, QByteArray("z"));

    instrument->write("stale answer");
    // No signal tells when the bytes have crossed the line in polling mode.
    QTest::qWait(50);
    link->flush();
    link->transmitMsg(QStringLiteral("E"), QString(), 50);
    QVERIFY(received.wait(1000));
    QCOMPARE(link->rxMsg, QByteArray("RX_ERROR: empty answer/timeout ?"));
}

// The answer is whatever has arrived when the wait ends, in however many pieces; a second
// write restarts the wait, and the one reception holds both answers.
void TestSerialConnection::secondWriteRestartsTheWait()
{
    auto link = openLink();
    QSignalSpy received(link.get(), &SerialConnection::endReception);
    link->transmitMsg(QStringLiteral("H0"), QStringLiteral("\r"), 300);
    instrument->write("o1");
    QVERIFY(!received.wait(150));
    QElapsedTimer sinceSecond;
    sinceSecond.start();
    link->transmitMsg(QStringLiteral("H0"), QStringLiteral("\r"), 300);
    instrument->write("o2");
    QVERIFY(received.wait(2000));
    QVERIFY(sinceSecond.elapsed() >= 299);
    QCOMPARE(received.size(), 1);
    QCOMPARE(link->rxMsg, QByteArray("o1o2"));
}

void TestSerialConnection::openPortReturnCodes()
{
    SerialConnection link(instrument->devicePath(), 19200, 8, 0, 0, 0, 0);
    QCOMPARE(link.openPort(), 1);
    QCOMPARE(link.openPort(), 2);
    QCOMPARE(link.statusMsg, QStringLiteral("port already opened"));
    link.closePort();
    QCOMPARE(link.openPort(), 1);

    SerialConnection missing(QStringLiteral("/no/such/tty"), 19200, 8, 0, 0, 0, 0);
    QCOMPARE(missing.openPort(), 0);
    QCOMPARE(missing.statusMsg, QStringLiteral("file not found: /no/such/tty"));

    QTemporaryFile notATerminal;
    QVERIFY(notATerminal.open());
    SerialConnection wrongFile(notATerminal.fileName(), 19200, 8, 0, 0, 0, 0);
    QCOMPARE(wrongFile.openPort(), 0);
    QVERIFY(!wrongFile.statusMsg.isEmpty());
    QVERIFY(!wrongFile.statusMsg.startsWith(QLatin1String("file not found")));
}

void TestSerialConnection::eventDrivenMode()
{
    auto link = openLink(SerialConnection::EventDriven);
    QSignalSpy received(link.get(), &SerialConnection::endReception);
    QSignalSpy timedOut(link.get(), &SerialConnection::receptionTimeout);
    link->transmitMsg(QStringLiteral("E"), QString(), 300);
    instrument->write("oz");
    QVERIFY(received.wait(250));
    QCOMPARE(timedOut.size(), 0);
    QVERIFY(link->rxMsg.startsWith("o"));
    QVERIFY(timedOut.wait(1000));
    QCOMPARE(link->rxMsg, QByteArray("RX_ERROR: reception timeout"));
}

QTEST_GUILESS_MAIN(TestSerialConnection)
#include "tst_serialconnection.moc"
