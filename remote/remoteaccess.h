#ifndef REMOTEACCESS_H
#define REMOTEACCESS_H

#include "kelpXmlRpcServer.h"

#include <QHostAddress>
#include <QList>
#include <QStringList>
#include <optional>

// Who may drive the instrument remotely, as the operator sets it in the environment:
//   MONOPANEL_LISTEN  the address to listen on (unset: all IPv4 interfaces)
//   MONOPANEL_ALLOW   the client addresses and subnets admitted, separated by commas or
//                     blanks, such as "127.0.0.1, 192.168.10.0/24" (unset: everyone)
//   MONOPANEL_HOSTS   further names under which clients address this machine in a request's
//                     Host, separated likewise, such as a DNS alias (an IP address,
//                     "localhost" and the machine's own names are always accepted)
// A value that cannot be read is reported and errs on the side of fewer clients: an address
// that does not read listens on the loopback address only, an entry that does not read
// admits nobody.
struct RemoteAccess
{
    QHostAddress address = QHostAddress(QHostAddress::AnyIPv4);
    std::optional<QList<KelpXmlRpcServer::Subnet>> allowed;
    QStringList hosts;

    static RemoteAccess fromEnvironment();
    // Whether a client at peer is admitted; an IPv4 client of a listener on both protocols
    // matches the IPv4 entries too.
    bool admits(const QHostAddress &peer) const;
    // A client's address as the instrument's events name it: an IPv4 client of a listener on
    // both protocols without its IPv6 dress.
    static QString addressText(const QHostAddress &address);
};

#endif
