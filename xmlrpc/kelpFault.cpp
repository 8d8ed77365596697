#include "kelpFault.h"

#include "kelpDocument.h"
#include "kelpObject.h"

#include <QDomDocument>

KelpFault::KelpFault(int faultCode, const QString &faultString, QObject *parent)
    : QObject(parent)
{
    faultMap.insert(QStringLiteral("faultCode"), faultCode);
    faultMap.insert(QStringLiteral("faultString"), faultString);
}

KelpFault::KelpFault(const KelpFault &other)
    : QObject(nullptr)
    , faultMap(other.faultMap)
{ }

KelpFault &KelpFault::operator=(const KelpFault &other)
{
    faultMap = other.faultMap;
    return *this;
}

QString KelpFault::toString() const
{
    QDomDocument document = KelpDocument::create();
    QDomElement response = document.createElement(QStringLiteral("methodResponse"));
    document.appendChild(response);
    QDomElement fault = document.createElement(QStringLiteral("fault"));
    response.appendChild(fault);
    fault.appendChild(KelpObject::toXml(faultMap));
    return document.toString(1);
}
