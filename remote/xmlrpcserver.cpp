#include "xmlrpcserver.h"

#include "kelpXmlRpcServer.h"
#include "remoteaccess.h"
#include "triax.h"

#include <QtDebug>

WidgetTriax *father = nullptr;

namespace {

const char *const methodNames[] = { "connect", "close", "checkConnection", "status", "help",
    "getWavelength", "setWavelength", "moveRelative", "getInSlit", "setInSlit", "getOutSlit",
    "setOutSlit", "getGrating", "setGrating", "getPosition", "__dir__" };

// The wavelength and slit limits are the panel's own.
bool isWavelength(double value)
{
    return value >= 250.0 && value <= 1300.0;
}

bool isSlitPosition(int steps)
{
    return steps >= 0 && steps <= 1400;
}

} // namespace

ServerXmlRPC::ServerXmlRPC(QObject *parent, int port)
    : ServerXmlRPC(parent, port, RemoteAccess::fromEnvironment())
{ }

ServerXmlRPC::ServerXmlRPC(QObject *parent, int port, const RemoteAccess &access)
    : QObject(parent)
    , rpcServer(new KelpXmlRpcServer(access.address, static_cast<quint16>(port), this))
    , owner(parent)
{
    if (access.allowed)
        rpcServer->setAllowedSubnets(*access.allowed);
    // Without this line a client that cannot connect, and the operator, would
    // never learn why; the panel itself works on without remote control.
    if (!rpcServer->isListening())
        qWarning("remote control: cannot listen on port %u: %s", static_cast<quint16>(port),
            qPrintable(rpcServer->errorString()));

    for (const char *name : methodNames)
        rpcServer->addMethod(QString::fromLatin1(name), this, name);

    father = qobject_cast<WidgetTriax *>(parent);
}

ServerXmlRPC::~ServerXmlRPC()
{
    if (father == owner)
        father = nullptr;
}

quint16 ServerXmlRPC::serverPort() const
{
    return rpcServer->serverPort();
}

QHostAddress ServerXmlRPC::serverAddress() const
{
    return rpcServer->getServerAddress();
}

int ServerXmlRPC::connect()
{
    father->openPort();
    return 0;
}

int ServerXmlRPC::close()
{
    father->closePort();
    return 0;
}

QString ServerXmlRPC::checkConnection()
{
    return father->ready ? QStringLiteral("1") : QStringLiteral("0");
}

int ServerXmlRPC::status()
{
    return father->ready;
}

QString ServerXmlRPC::help()
{
    return QStringLiteral("\nconnect() returns always 0\n"
                          "close() returns always 0\n"
                          "checkConnection() returns a NULL string or the model name\n"
                          "status() returns instrument status \n"
                          "getWavelength() returns wavelength (double)\n"
                          "setWavelength(double) \n"
                          "moveRelative(int) \n"
                          "getInSlit() returns int\n"
                          "setInSlit(int) \n"
                          "getOutSlit() returns int\n"
                          "setOutSlit(int) \n"
                          "getGrating() returns current grating, int\n"
                          "setGrating(int)\n"
                          "getPosition()\n"
                          "help() this info !\n");
}

double ServerXmlRPC::getWavelength()
{
    return father->wavelengthText.toDouble();
}

// What the operator does: type the value into the field, then run the action
// that reads it. The field then shows the remote request, and the command is
// built exactly as for the operator.
void ServerXmlRPC::enter(QLineEdit *field, const QString &text, void (WidgetTriax::*action)())
{
    field->setText(text);
    (father->*action)();
}

void ServerXmlRPC::setWavelength(double wavelength)
{
    if (father->ready && isWavelength(wavelength))
        enter(
            father->leWavelength, QString::number(wavelength, 'g', 6), &WidgetTriax::newWavelength);
}

void ServerXmlRPC::moveRelative(int steps)
{
    if (father->ready)
        enter(father->leMoveRel, QString::number(steps), &WidgetTriax::moveRelative);
}

int ServerXmlRPC::getInSlit()
{
    return father->inSlitSteps;
}

void ServerXmlRPC::setInSlit(int steps)
{
    if (father->ready && isSlitPosition(steps))
        enter(father->leInSlit, QString::number(steps), &WidgetTriax::newInSlit);
}

int ServerXmlRPC::getOutSlit()
{
    return father->outSlitSteps;
}

void ServerXmlRPC::setOutSlit(int steps)
{
    if (father->ready && isSlitPosition(steps))
        enter(father->leOutSlit, QString::number(steps), &WidgetTriax::newOutSlit);
}

int ServerXmlRPC::getGrating()
{
    return father->grating;
}

void ServerXmlRPC::setGrating(int index)
{
    qDebug("%d", father->ready);
    if (!father->ready || index < 0 || index > 2)
        return;
    // Selecting another grating in the box already runs changeGrating through
    // the box's signal; running it again would send the grating command twice.
    if (father->cbGrating->currentIndex() == index)
        father->changeGrating(index);
    else
        father->cbGrating->setCurrentIndex(index);
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
    return father->leMotPos->text().toInt(nullptr, 10);
}
