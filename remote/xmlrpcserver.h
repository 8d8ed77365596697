#ifndef XMLRPCSERVER_H
#define XMLRPCSERVER_H

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include "listeningport.h"
#include "triaxcontroller.h"

class KelpXmlRpcServer;
struct RemoteAccess;

// The instrument as network clients see it. Each remote method is a slot that
// either reads the controller's last known instrument values or hands it the
// request, which the controller checks as it checks the operator's. Setters
// only queue work and answer at once with the controller's verdict: an empty
// string when the request was taken, else why it was refused. waitReady()
// answers once the instrument is ready again, without costing anything while
// it waits.
// The same port serves the instrument's page (remote/page/), a client of
// these methods like any other.
class ServerXmlRPC : public QObject
{
    Q_OBJECT

public:
    // Serves controller, which must outlive it. port is narrowed to 16 bits;
    // 0 lets the system choose a free one. The address listened on and the
    // clients admitted come from the environment (RemoteAccess) unless given.
    ServerXmlRPC(TriaxController *controller, int port, QObject *parent = nullptr);
    ServerXmlRPC(TriaxController *controller, int port, const RemoteAccess &access,
        QObject *parent = nullptr);

    // The port listened on, or 0 when listening failed.
    quint16 serverPort() const;
    // The address listened on, null when listening failed.
    QHostAddress serverAddress() const;
    // Warnings about remote control, the server's own among them, go into
    // the controller's event log.

    // Where it listens, or why not; the instrument's page is served there too.
    ListeningPort listening() const;

private Q_SLOTS:
    int connect();
    int close();
    QString checkConnection();
    int status();
    QString help();
    double getWavelength();
    QString setWavelength(double wavelength);
    QString moveRelative(int steps);
    int getInSlit();
    QString setInSlit(int steps);
    int getOutSlit();
    QString setOutSlit(int steps);
    int getGrating();
    QString setGrating(int index);
    QVariantList __dir__();
    int getPosition();
    QVariantMap getState();
    QVariantMap getLimits();
    // getState() once the instrument is ready with nothing queued or in
    // flight, or a fault: it turned to a fault or was closed, or the time ran
    // out. A wait costs nothing: the response comes later, and a client that
    // hangs up ends it.
    QVariant waitReady(int seconds);
    QVariant waitReady(double seconds);
    // The instrument's events after that id, oldest first, at most
    // MaxEventsPerCall of them; 0 for the oldest kept.
    QVariantList getEvents(int afterId);
    // The build, as --version prints it: 0.2.0, or 0.2.0+git<date>.<number>.<commit>.
    QString getVersion();

private:
    // Who called, as the controller's log line names them, and what they asked.
    TriaxController::Requester caller(QLatin1String method, const QString &value = QString()) const;

    KelpXmlRpcServer *rpcServer;
    TriaxController *controller;
    const int requestedPort;
};

#endif
