#include "listeningaddress.h"

#include <QSysInfo>

namespace ListeningAddress {

namespace {

bool everyInterface(const QHostAddress &address)
{
    return address.isNull() || address == QHostAddress::AnyIPv4;
}

QString hostText(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
}

} // namespace

QString describe(const ListeningPort &listening)
{
    if (!listening.error.isEmpty())
        return QStringLiteral("port %1: %2").arg(listening.requested).arg(listening.error);
    if (listening.port == 0)
        return QStringLiteral("off");
    const QString port = QString::number(listening.port);
    if (everyInterface(listening.address))
        return port;
    return QStringLiteral("%1:%2").arg(hostText(listening.address), port);
}

QString pageUrl(const ListeningPort &listening)
{
    if (listening.port == 0)
        return QString();
    const QString host = everyInterface(listening.address) ? QSysInfo::machineHostName()
                                                           : hostText(listening.address);
    return QStringLiteral("http://%1:%2/").arg(host).arg(listening.port);
}

} // namespace ListeningAddress
