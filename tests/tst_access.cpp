#include "panelprocess.h"

#include <QTest>

// Who may drive the instrument, as the operator restricts it in the program's environment.
// 127.0.0.2 is a second loopback address, so the tests need no network.
class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void everyoneByDefault();
    void loopbackListener();
    void allowedClients();

private:
    // A status call from source to address: answered, or why not.
    QByteArray status(const QHostAddress &source, const QHostAddress &address) const;

    PanelProcess panel;
};

namespace {

const QHostAddress first(QHostAddress::LocalHost);
const QHostAddress second(QStringLiteral("127.0.0.2"));

QProcessEnvironment environment(const QString &name, const QString &value)
{
    QProcessEnvironment result;
    result.insert(name, value);
    return result;
}

} // namespace

QByteArray TestAccess::status(const QHostAddress &source, const QHostAddress &address) const
{
    return PanelProcess::exchange(address, panel.port(), PanelProcess::statusCall, 3000, source);
}

void TestAccess::everyoneByDefault()
{
    const QString failure = panel.start(QStringLiteral(MONOPANEL_EXECUTABLE), {});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(PanelProcess::isStatusAnswer(status(first, first)));
    QVERIFY(PanelProcess::isStatusAnswer(status(second, second)));
}

void TestAccess::loopbackListener()
{
    const QString failure = panel.start(QStringLiteral(MONOPANEL_EXECUTABLE),
        environment(QStringLiteral("MONOPANEL_LISTEN"), QStringLiteral("127.0.0.1")));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(status(second, second).isEmpty());
}

void TestAccess::allowedClients()
{
    const QString failure = panel.start(QStringLiteral(MONOPANEL_EXECUTABLE),
        environment(QStringLiteral("MONOPANEL_ALLOW"), QStringLiteral("127.0.0.2")), second,
        QProcess::SeparateChannels);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // Closed without a byte, and the operator is told.
    QCOMPARE(status(first, second), QByteArray());
    QTRY_VERIFY(panel.standardError().contains("Rejected connection attempt from \"127.0.0.1\""));
    QVERIFY(PanelProcess::isStatusAnswer(status(second, second)));
}

QTEST_GUILESS_MAIN(TestAccess)
#include "tst_access.moc"
