#include "panelprocess.h"

#include "childprocess.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

const QByteArray PanelProcess::statusCall
    = post("<?xml version=\"1.0\"?><methodCall><methodName>status</methodName></methodCall>");

PanelProcess::PanelProcess()
{
    dieWithParent(process);
}

PanelProcess::~PanelProcess()
{
    stop();
}

QString PanelProcess::start(const QString &program, const QProcessEnvironment &environment,
    const QHostAddress &address, QProcess::ProcessChannelMode channels)
{
    stop();
    collected.clear();
    listenPort = freePort();
    if (listenPort == 0)
        return QStringLiteral("no free loopback port");
    QProcessEnvironment merged = QProcessEnvironment::systemEnvironment();
    merged.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    merged.insert(environment);
    process.setProcessEnvironment(merged);
    process.setProcessChannelMode(channels);
    process.start(program, { QStringLiteral("/nonexistent/tty"), QString::number(listenPort) });
    if (!process.waitForStarted(10000))
        return process.errorString();
    const bool answers = QTest::qWaitFor(
        [&] {
            return !isRunning()
                || isStatusAnswer(exchange(address, listenPort, statusCall, 3000, address));
        },
        30000);
    if (!isRunning())
        return QStringLiteral("the program ended with exit code %1").arg(process.exitCode());
    return answers ? QString() : QStringLiteral("no status answer on %1").arg(address.toString());
}

quint16 PanelProcess::freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

void PanelProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(10000);
}

QByteArray PanelProcess::standardError()
{
    collected += process.readAllStandardError();
    return collected;
}

qint64 PanelProcess::rssKiloBytes() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpression rss(
        QStringLiteral("^VmRSS:\\s*(\\d+) kB$"), QRegularExpression::MultilineOption);
    return rss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

QByteArray PanelProcess::exchange(const QHostAddress &address, quint16 port,
    const QByteArray &request, int timeout, const QHostAddress &source)
{
    QTcpSocket socket;
    if (!source.isNull() && !socket.bind(source))
        return "cannot bind to " + source.toString().toLatin1();
    QByteArray received;
    // Collected as it comes, so that a reset after the answer cannot take it away.
    QObject::connect(
        &socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    socket.connectToHost(address, port);
    socket.write(request);
    if (!QTest::qWaitFor(
            [&socket] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeout))
        return "still open after " + QByteArray::number(timeout) + " ms; received: " + received;
    return received + socket.readAll();
}

QByteArray PanelProcess::post(const QByteArray &body)
{
    return "POST /RPC2 HTTP/1.1\r\nConnection: close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

bool PanelProcess::isStatusAnswer(const QByteArray &answer)
{
    return answer.startsWith("HTTP/1.1 200 ") && answer.contains("<methodResponse>")
        && answer.contains("<int>0</int>") && !answer.contains("<fault>");
}
