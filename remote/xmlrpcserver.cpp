#include "xmlrpcserver.h"

#include "kelpXmlRpcServer.h"
#include "remoteaccess.h"
#include "triaxcontroller.h"

#include <QtDebug>

namespace {

const char *const methodNames[] = { "connect", "close", "checkConnection", "status", "help",
    "getWavelength", "setWavelength", "moveRelative", "getInSlit", "setInSlit", "getOutSlit",
    "setOutSlit", "getGrating", "setGrating", "getPosition", "__dir__", "getState" };

// The lines of help(), in its order; each is also what system.methodHelp tells of its method.
const char *const helpLines[][2] = {
    { "connect", "connect() returns always 0" },
    { "close", "close() returns always 0" },
    { "checkConnection", "checkConnection() returns a NULL string or the model name" },
    { "status", "status() returns instrument status " },
    { "getWavelength", "getWavelength() returns wavelength (double)" },
    { "setWavelength", "setWavelength(double) " },
    { "moveRelative", "moveRelative(int) " },
    { "getInSlit", "getInSlit() returns int" },
    { "setInSlit", "setInSlit(int) " },
    { "getOutSlit", "getOutSlit() returns int" },
    { "setOutSlit", "setOutSlit(int) " },
    { "getGrating", "getGrating() returns current grating, int" },
    { "setGrating", "setGrating(int)" },
    { "getPosition", "getPosition()" },
    { "getState",
        "getState() returns state, text, reason, readBacks, ready and the values, "
        "struct" },
    { "help", "help() this info !" },
};

QString helpLine(const char *method)
{
    for (const auto &line : helpLines) {
        if (qstrcmp(line[0], method) == 0)
            return QString::fromLatin1(line[1]);
    }
    return QString();
}

QString stateName(TriaxController::State state)
{
    using State = TriaxController::State;
    switch (state) {
    case State::Closed:
        return QStringLiteral("closed");
    case State::WakingUp:
        return QStringLiteral("waking up");
    case State::ReadingBack:
        return QStringLiteral("reading back");
    case State::Ready:
        return QStringLiteral("ready");
    case State::Busy:
    case State::Moving:
        return QStringLiteral("busy");
    case State::NoAnswer:
        return QStringLiteral("no answer");
    case State::PortLost:
        return QStringLiteral("port lost");
    case State::OpenFailed:
        return QStringLiteral("cannot open");
    }
    return QString();
}

} // namespace

ServerXmlRPC::ServerXmlRPC(TriaxController *controller, int port, QObject *parent)
    : ServerXmlRPC(controller, port, RemoteAccess::fromEnvironment(), parent)
{ }

ServerXmlRPC::ServerXmlRPC(
    TriaxController *controller, int port, const RemoteAccess &access, QObject *parent)
    : QObject(parent)
    , rpcServer(new KelpXmlRpcServer(access.address, static_cast<quint16>(port), this))
    , controller(controller)
    , requestedPort(port)
{
    if (access.allowed)
        rpcServer->setAllowedSubnets(*access.allowed);
    QObject::connect(
        rpcServer, &KelpXmlRpcServer::warningLogged, this, &ServerXmlRPC::warningLogged);
    // Without this line a client that cannot connect, and the operator, would
    // never learn why; the panel itself works on without remote control.
    if (!rpcServer->isListening()) {
        const QString line = QStringLiteral("remote control: cannot listen on port %1: %2")
                                 .arg(static_cast<quint16>(port))
                                 .arg(rpcServer->errorString());
        qWarning("%s", qPrintable(line));
        // Later: whoever shows it is connected only after construction.
        QMetaObject::invokeMethod(
            this, [this, line] { emit warningLogged(line); }, Qt::QueuedConnection);
    }

    for (const char *name : methodNames)
        rpcServer->addMethod(QString::fromLatin1(name), this, name, helpLine(name).trimmed());
}

quint16 ServerXmlRPC::serverPort() const
{
    return rpcServer->serverPort();
}

QHostAddress ServerXmlRPC::serverAddress() const
{
    return rpcServer->getServerAddress();
}

// With port 0 the system chooses one, and a port above 65535 wraps: clients
// must be told which, and on which address when it is not every interface.
QString ServerXmlRPC::listeningOn() const
{
    if (!rpcServer->isListening()) {
        return QStringLiteral("port %1: %2")
            .arg(static_cast<quint16>(requestedPort))
            .arg(rpcServer->errorString());
    }
    const QString port = QString::number(serverPort());
    const QHostAddress address = serverAddress();
    if (address.isNull() || address == QHostAddress::AnyIPv4)
        return port;
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(address.toString(), port);
    return QStringLiteral("%1:%2").arg(address.toString(), port);
}

int ServerXmlRPC::connect()
{
    controller->openPort();
    return 0;
}

int ServerXmlRPC::close()
{
    controller->closePort();
    return 0;
}

QString ServerXmlRPC::checkConnection()
{
    return controller->ready() ? QStringLiteral("1") : QStringLiteral("0");
}

int ServerXmlRPC::status()
{
    return controller->ready();
}

QString ServerXmlRPC::help()
{
    QString text = QStringLiteral("\n");
    for (const auto &line : helpLines)
        text += QLatin1String(line[1]) + u'\n';
    return text;
}

// Read in one go, so that no request of another client can come between the values.
QVariantMap ServerXmlRPC::getState()
{
    return {
        { QStringLiteral("state"), stateName(controller->state()) },
        { QStringLiteral("text"), controller->statusText() },
        { QStringLiteral("reason"), controller->faultReason() },
        { QStringLiteral("readBacks"), controller->readBacks() },
        { QStringLiteral("ready"), controller->ready() },
        { QStringLiteral("wavelength"), controller->wavelength() },
        { QStringLiteral("position"), controller->position() },
        { QStringLiteral("inSlit"), controller->inSlitSteps() },
        { QStringLiteral("outSlit"), controller->outSlitSteps() },
        { QStringLiteral("grating"), controller->grating() },
    };
}

double ServerXmlRPC::getWavelength()
{
    return controller->wavelength();
}

void ServerXmlRPC::setWavelength(double wavelength)
{
    controller->newWavelength(wavelength);
}

void ServerXmlRPC::moveRelative(int steps)
{
    controller->moveRelative(steps);
}

int ServerXmlRPC::getInSlit()
{
    return controller->inSlitSteps();
}

void ServerXmlRPC::setInSlit(int steps)
{
    controller->newInSlit(steps);
}

int ServerXmlRPC::getOutSlit()
{
    return controller->outSlitSteps();
}

void ServerXmlRPC::setOutSlit(int steps)
{
    controller->newOutSlit(steps);
}

int ServerXmlRPC::getGrating()
{
    return controller->grating();
}

void ServerXmlRPC::setGrating(int index)
{
    qDebug("%d", controller->ready());
    controller->changeGrating(index);
}

QVariantList ServerXmlRPC::__dir__()
{
    QVariantList names;
    for (const char *name : methodNames) {
        if (qstrcmp(name, "__dir__") != 0)
            names.append(QString::fromLatin1(name));
    }
    return names;
}

int ServerXmlRPC::getPosition()
{
    return controller->position();
}
