#include "kelpFault.h"

KelpFault::KelpFault(int faultCode, const QString &faultString)
    : code(faultCode)
    , text(faultString)
{ }

QVariantMap KelpFault::faultMap() const
{
    return { { QStringLiteral("faultCode"), code }, { QStringLiteral("faultString"), text } };
}

KelpFault KelpFault::notWellFormed()
{
    return { NotWellFormed, QStringLiteral("parse error: not well formed") };
}

KelpFault KelpFault::notConforming()
{
    return { InvalidXmlRpc,
        QStringLiteral("server error: invalid xml-rpc. not conforming to spec") };
}

KelpFault KelpFault::nestedTooDeep()
{
    return { InvalidXmlRpc,
        QStringLiteral("server error: invalid xml-rpc. values nested too deep") };
}

KelpFault KelpFault::methodNotFound()
{
    return { MethodNotFound, QStringLiteral("server error: requested method not found") };
}

KelpFault KelpFault::invalidParameters()
{
    return { InvalidParameters, QStringLiteral("server error: invalid method parameters") };
}

KelpFault KelpFault::multicallCallsItself()
{
    return { InvalidXmlRpc, QStringLiteral("server error: system.multicall cannot call itself") };
}

KelpFault KelpFault::responseNotWellFormed(int line, const QString &error)
{
    return { NotWellFormed,
        QStringLiteral("parse error: response not well formed at line %1: %2")
            .arg(QString::number(line), error) };
}

KelpFault KelpFault::responseNotConforming()
{
    return { InvalidXmlRpc,
        QStringLiteral("parse error: invalid xml-rpc. not conforming to spec.") };
}

KelpFault KelpFault::responseNestedTooDeep()
{
    return { InvalidXmlRpc,
        QStringLiteral("parse error: invalid xml-rpc. values nested too deep.") };
}

KelpFault KelpFault::transportError(const QString &what)
{
    return { TransportError, QStringLiteral("transport error: ") + what };
}
