#ifndef DOMORACLE_H
#define DOMORACLE_H

#include "kelpDocument.h"
#include "kelpObject.h"

#include <QDomDocument>
#include <QString>
#include <QVariantList>

// The document KelpObject writes through the DOM when the plain writer declines, built here
// the same way: what every plain document must equal byte for byte. A null method leaves
// out "methodName" (a response). Shared by the fuzz targets and the tests.
inline QString domDocument(const QString &root, const QString &method, const QVariantList &values)
{
    QDomDocument document = KelpDocument::create();
    QDomElement top = document.createElement(root);
    document.appendChild(top);
    if (!method.isNull()) {
        QDomElement name = document.createElement(QStringLiteral("methodName"));
        top.appendChild(name);
        name.appendChild(document.createTextNode(method));
    }
    QDomElement params = document.createElement(QStringLiteral("params"));
    top.appendChild(params);
    for (const QVariant &value : values) {
        QDomElement param = document.createElement(QStringLiteral("param"));
        params.appendChild(param);
        param.appendChild(KelpObject::toXml(value));
    }
    return document.toString(1);
}

#endif // DOMORACLE_H
