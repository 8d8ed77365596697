#ifndef XMLRPCSERVER_H
#define XMLRPCSERVER_H

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QVariantList>

class KelpXmlRpcServer;
class QLineEdit;
struct RemoteAccess;
class WidgetTriax;

// The panel as network clients see it. Each remote method is a slot that
// either reads the controller's last known instrument values or does what the
// operator would do: write the value into the panel's field and run the same
// action, so remote requests take exactly the operator's command path. Setters
// only queue work and answer at once; a request that is not allowed (not
// ready, out of range) changes nothing and answers normally. Clients learn the
// outcome through status() and the getters.
class ServerXmlRPC : public QObject
{
    Q_OBJECT

public:
    // parent is the controller. port is narrowed to 16 bits; 0 lets the
    // system choose a free one. The address listened on and the clients
    // admitted come from the environment (RemoteAccess).
    ServerXmlRPC(QObject *parent, int port);
    ServerXmlRPC(QObject *parent, int port, const RemoteAccess &access);
    ~ServerXmlRPC() override;

    // The port listened on, or 0 when listening failed.
    quint16 serverPort() const;
    // The address listened on, null when listening failed.
    QHostAddress serverAddress() const;

private Q_SLOTS:
    int connect();
    int close();
    QString checkConnection();
    int status();
    QString help();
    double getWavelength();
    void setWavelength(double wavelength);
    void moveRelative(int steps);
    int getInSlit();
    void setInSlit(int steps);
    int getOutSlit();
    void setOutSlit(int steps);
    int getGrating();
    void setGrating(int index);
    QVariantList __dir__();
    int getPosition();

private:
    static void enter(QLineEdit *field, const QString &text, void (WidgetTriax::*action)());

    KelpXmlRpcServer *rpcServer;
    QObject *owner;
};

// The controller the remote methods act on; there is one per process.
extern WidgetTriax *father;

#endif
