#include "kelpXmlRpcClient.h"

#include "kelpCodec.h"
#include "kelpFault.h"
#include "kelpObject.h"

KelpXmlRpcClient::KelpXmlRpcClient(const QUrl &url, QObject *parent)
    : QObject(parent)
    , request(url)
{
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml"));
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("KelpXmlRpc/0.1"));
    request.setTransferTimeout(TransferTimeout);
    connect(&manager, &QNetworkAccessManager::finished, this, &KelpXmlRpcClient::replyFinished);
    connect(&manager, &QNetworkAccessManager::sslErrors, this, &KelpXmlRpcClient::sslErrors);
}

QUrl KelpXmlRpcClient::url() const
{
    return request.url();
}

void KelpXmlRpcClient::setTransferTimeout(int milliseconds)
{
    request.setTransferTimeout(milliseconds);
}

KelpObject *KelpXmlRpcClient::call(const QString &method, const QVariantList &args)
{
    // Parented, so that a call still pending when the client goes is freed with it.
    auto *callObject = new KelpObject(this);
    QNetworkReply *reply = manager.post(request, KelpCodec::prepareCall(method, args));
    calls.insert(reply, callObject);
    return callObject;
}

void KelpXmlRpcClient::replyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    const QPointer<KelpObject> callObject = calls.take(reply);
    if (!callObject)
        return;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200) {
        const QString reason
            = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        callObject->reportFault(
            KelpFault::transportError(QStringLiteral("HTTP %1 %2").arg(status.toString(), reason)),
            reply);
    } else if (reply->error() != QNetworkReply::NoError) {
        callObject->reportFault(KelpFault::transportError(reply->errorString()), reply);
    } else {
        callObject->parseResponse(reply->readAll(), reply);
    }
}
