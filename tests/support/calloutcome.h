#ifndef CALLOUTCOME_H
#define CALLOUTCOME_H

#include "kelpObject.h"
#include "kelpXmlRpcClient.h"

#include <QSignalSpy>
#include <QString>
#include <QVariant>

// Calls method with the library's client and waits for the outcome: the result, or the fault
// as "code: text".
inline QVariant callOutcome(
    KelpXmlRpcClient &client, const QString &method, const QVariantList &args = {})
{
    QVariant outcome = QStringLiteral("no outcome");
    KelpObject *callObject = client.call(method, args);
    QSignalSpy done(callObject, &QObject::destroyed);
    QObject::connect(callObject, &KelpObject::aresponse,
        [&outcome](QVariant &result, QNetworkReply *) { outcome = result; });
    QObject::connect(callObject, &KelpObject::fault, [&outcome](int code, const QString &text) {
        outcome = QString::number(code) + ": " + text;
    });
    done.wait(15000);
    return outcome;
}

#endif
