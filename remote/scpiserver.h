#ifndef SCPISERVER_H
#define SCPISERVER_H

#include "listeningport.h"
#include "remoteaccess.h"

#include <QObject>
#include <QString>
#include <QTcpServer>

class TriaxController;

// The instrument as VISA programs, LabVIEW and MATLAB reach lab instruments: SCPI over a raw
// TCP socket, one ScpiConnection for each client. Its port comes from MONOPANEL_SCPI_PORT;
// the address listened on and the clients admitted are the remote-control port's
// (RemoteAccess).
class ScpiServer : public QObject
{
    Q_OBJECT

public:
    // The port that VISA's TCPIP::<host>::5025::SOCKET resources and most instruments use.
    static constexpr int DefaultPort = 5025;
    // A lab script keeps its session open for hours, so none is closed to make room: a client
    // beyond these is told so in one line and closed.
    static constexpr int MaxConnections = 32;

    // MONOPANEL_SCPI_PORT: DefaultPort when unset or empty, 0 to turn SCPI off. A value that
    // is not a port is reported and turns it off.
    static int portFromEnvironment();

    // Serves controller, which must outlive it, on port; 0 serves nothing.
    ScpiServer(TriaxController *controller, int port, const RemoteAccess &access,
        QObject *parent = nullptr);

    bool isListening() const { return listener.isListening(); }
    quint16 serverPort() const { return listener.serverPort(); }
    // Where it listens, or why not; nothing for a server asked for no port.
    ListeningPort listening() const;

private:
    void acceptConnections();
    void warn(const QString &line);

    QTcpServer listener;
    TriaxController *controller;
    const RemoteAccess access;
    const int requestedPort;
    int connections = 0;
};

#endif
