#include "kelpHostNames.h"

#include <QHostAddress>
#include <QHostInfo>

namespace {

struct Authority
{
    QByteArray host;
    int port = 80;
    bool valid = false;
};

// "name", "name:port", "1.2.3.4:port" or "[v6]:port".
Authority readAuthority(QByteArrayView text)
{
    Authority authority;
    qsizetype portStart = -1;
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf(']');
        if (close < 0)
            return authority;
        authority.host = text.first(close + 1).toByteArray();
        if (close + 1 < text.size()) {
            if (text.at(close + 1) != ':')
                return authority;
            portStart = close + 2;
        }
    } else {
        const qsizetype colon = text.indexOf(':');
        authority.host = (colon < 0 ? text : text.first(colon)).toByteArray();
        portStart = colon < 0 ? -1 : colon + 1;
    }
    if (portStart >= 0) {
        bool isNumber = false;
        authority.port = text.sliced(portStart).toInt(&isNumber);
        if (!isNumber || authority.port < 0 || authority.port > 65535)
            return authority;
    }
    authority.valid = !authority.host.isEmpty();
    return authority;
}

} // namespace

KelpHostNames::KelpHostNames()
{
    const QString shortName = QHostInfo::localHostName();
    names << QStringLiteral("localhost") << shortName;
    if (!QHostInfo::localDomainName().isEmpty())
        names << shortName + u'.' + QHostInfo::localDomainName();
}

void KelpHostNames::setAllowed(const QStringList &hostNames)
{
    allowed = hostNames;
}

bool KelpHostNames::admits(QByteArrayView host) const
{
    const Authority authority = readAuthority(host);
    if (!authority.valid)
        return false;
    const QString name = QString::fromLatin1(authority.host);
    if (name.startsWith(u'['))
        return QHostAddress(name.mid(1, name.size() - 2)).protocol()
            == QAbstractSocket::IPv6Protocol;
    QHostAddress address;
    if (address.setAddress(name) && address.protocol() == QAbstractSocket::IPv4Protocol)
        return true;
    return names.contains(name, Qt::CaseInsensitive) || allowed.contains(name, Qt::CaseInsensitive);
}

bool KelpHostNames::isSameOrigin(QByteArrayView origin, QByteArrayView host)
{
    constexpr QByteArrayView scheme("http://");
    if (origin.size() <= scheme.size()
        || origin.first(scheme.size()).compare(scheme, Qt::CaseInsensitive) != 0)
        return false;
    const Authority from = readAuthority(origin.sliced(scheme.size()));
    const Authority to = readAuthority(host);
    return from.valid && to.valid && from.port == to.port
        && from.host.compare(to.host, Qt::CaseInsensitive) == 0;
}

QByteArray KelpHostNames::nameOf(QByteArrayView host)
{
    const Authority authority = readAuthority(host);
    return authority.valid ? authority.host : host.toByteArray();
}
