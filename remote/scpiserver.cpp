#include "scpiserver.h"

#include "eventlog.h"
#include "scpiconnection.h"
#include "scpierrors.h"
#include "scpilog.h"

#include <QTcpSocket>
#include <QtDebug>

int ScpiServer::portFromEnvironment()
{
    const QString text = qEnvironmentVariable("MONOPANEL_SCPI_PORT").trimmed();
    if (text.isEmpty())
        return DefaultPort;
    bool ok = false;
    const int port = text.toInt(&ok);
    if (ok && port >= 0 && port <= 65535)
        return port;
    qCWarning(lcScpi,
        "SCPI: MONOPANEL_SCPI_PORT \"%s\" is not a port (1 to 65535, or 0 for none); SCPI "
        "is off",
        qPrintable(text));
    return 0;
}

ScpiServer::ScpiServer(
    TriaxController *controller, int port, const RemoteAccess &access, QObject *parent)
    : QObject(parent)
    , controller(controller)
    , access(access)
    , requestedPort(port)
{
    connect(&listener, &QTcpServer::newConnection, this, &ScpiServer::acceptConnections);
    if (port == 0 || listener.listen(access.address, quint16(port)))
        return;
    // As the remote-control port: the panel works on without it, and says why.
    warn(
        QStringLiteral("SCPI: cannot listen on port %1: %2").arg(port).arg(listener.errorString()));
}

ListeningPort ScpiServer::listening() const
{
    if (requestedPort == 0)
        return {};
    if (!listener.isListening())
        return { quint16(requestedPort), QHostAddress(), 0, listener.errorString() };
    return { quint16(requestedPort), listener.serverAddress(), serverPort(), QString() };
}

void ScpiServer::acceptConnections()
{
    while (QTcpSocket *socket = listener.nextPendingConnection()) {
        const QString peer = socket->peerAddress().toString();
        if (!access.admits(socket->peerAddress())) {
            warn(QStringLiteral("SCPI: rejected connection attempt from \"%1\"").arg(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (connections >= MaxConnections) {
            warn(QStringLiteral("SCPI: %1 connections open: refused the one from \"%2\"")
                     .arg(MaxConnections)
                     .arg(peer));
            socket->write(QStringLiteral("%1,\"%2;%3 SCPI connections are open, no more are "
                                         "taken\"\n")
                              .arg(ScpiErrors::deviceSpecificError.code)
                              .arg(QLatin1String(ScpiErrors::deviceSpecificError.text))
                              .arg(MaxConnections)
                              .toUtf8());
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        auto *connection = new ScpiConnection(socket, controller, this);
        ++connections;
        connect(connection, &QObject::destroyed, this, [this] { --connections; });
        connect(connection, &ScpiConnection::warningLogged, this, &ScpiServer::warn);
    }
}

// In the instrument's events, which every face shows; the journal line goes under SCPI.
void ScpiServer::warn(const QString &line)
{
    qCWarning(lcScpi, "%s", qPrintable(line));
    controller->events()->record(
        EventLog::Kind::Warning, QStringLiteral("SCPI"), line, EventLog::Journal::Written);
}
