#include "kelpObject.h"

#include "kelpCodec.h"
#include "kelpFault.h"

KelpObject::KelpObject(QObject *parent)
    : QObject(parent)
{ }

void KelpObject::parseResponse(const QByteArray &response, QNetworkReply *reply)
{
    finish(KelpCodec::readResponse(response), reply);
}

void KelpObject::reportFault(const KelpFault &fault, QNetworkReply *reply)
{
    finish(QVariant::fromValue(fault), reply);
}

void KelpObject::finish(const QVariant &outcome, QNetworkReply *reply)
{
    // One outcome for one call, even when the client is asked twice.
    if (finished)
        return;
    finished = true;
    if (outcome.metaType() == QMetaType::fromType<KelpFault>()) {
        const KelpFault failure = outcome.value<KelpFault>();
        emit fault(failure.faultCode(), failure.faultString(), reply);
    } else {
        QVariant result = outcome;
        emit aresponse(result, reply);
    }
    deleteLater();
}
