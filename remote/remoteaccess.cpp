#include "remoteaccess.h"

#include "remotelog.h"

#include <QRegularExpression>
#include <QtDebug>

#include <algorithm>

RemoteAccess RemoteAccess::fromEnvironment()
{
    RemoteAccess access;
    const QString listen = qEnvironmentVariable("MONOPANEL_LISTEN").trimmed();
    if (!listen.isEmpty() && !access.address.setAddress(listen)) {
        qCWarning(lcRemote,
            "remote control: MONOPANEL_LISTEN \"%s\" is not an address; listening on "
            "127.0.0.1 only",
            qPrintable(listen));
        access.address = QHostAddress(QHostAddress::LocalHost);
    }

    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    access.hosts = qEnvironmentVariable("MONOPANEL_HOSTS").split(separators, Qt::SkipEmptyParts);

    const QString allow = qEnvironmentVariable("MONOPANEL_ALLOW");
    const QStringList entries = allow.split(separators, Qt::SkipEmptyParts);
    if (entries.isEmpty())
        return access;
    access.allowed.emplace();
    for (const QString &entry : entries) {
        // parseSubnet() reads a bare address as a subnet of that address alone.
        const KelpXmlRpcServer::Subnet subnet = QHostAddress::parseSubnet(entry);
        if (subnet.first.isNull())
            qCWarning(lcRemote,
                "remote control: MONOPANEL_ALLOW entry \"%s\" is neither an address nor "
                "a subnet; it admits nobody",
                qPrintable(entry));
        else
            access.allowed->append(subnet);
    }
    return access;
}

QString RemoteAccess::addressText(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4).toString() : address.toString();
}

bool RemoteAccess::admits(const QHostAddress &peer) const
{
    if (!allowed)
        return true;
    bool isMapped = false;
    const QHostAddress ipv4(peer.toIPv4Address(&isMapped));
    return std::any_of(
        allowed->cbegin(), allowed->cend(), [&](const KelpXmlRpcServer::Subnet &subnet) {
            return peer.isInSubnet(subnet) || (isMapped && ipv4.isInSubnet(subnet));
        });
}
