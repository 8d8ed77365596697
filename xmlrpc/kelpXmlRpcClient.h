#ifndef KELPXMLRPCCLIENT_H
#define KELPXMLRPCCLIENT_H

#include "kelpFault.h"

#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QUrl>
#include <QVariant>

class KelpObject;

// Calls methods of an XML-RPC server over HTTP(S):
//
//     KelpObject *pending = client->call("getWavelength");
//     connect(pending, &KelpObject::aresponse, this, [](QVariant &result, QNetworkReply *) {...});
//     connect(pending, &KelpObject::fault, this, [](int code, const QString &text, QNetworkReply *)
//     {...});
//
// Each call's outcome arrives once, after call() has returned, through its call object's
// aresponse() or fault(); the call object then deletes itself later. A call that gets no response
// document (the server cannot be reached, answers with an HTTP error, or takes longer than
// TransferTimeout) ends in fault() with TransportFault and a text saying what went wrong.
class KelpXmlRpcClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int TransportFault = KelpFault::TransportError;
    static constexpr int TransferTimeout = 30 * 1000;

    explicit KelpXmlRpcClient(const QUrl &url, QObject *parent = nullptr);

    QUrl url() const;
    // How long a call may wait for its response before it ends in TransportFault; a client
    // that watches a server's health wants to hear much sooner than TransferTimeout.
    void setTransferTimeout(int milliseconds);
    KelpObject *call(const QString &method, const QVariantList &args = QVariantList());

signals:
    void sslErrors(QNetworkReply *reply, const QList<QSslError> &errors);

private slots:
    void replyFinished(QNetworkReply *reply);

private:
    QNetworkAccessManager manager;
    QNetworkRequest request;
    QHash<QNetworkReply *, QPointer<KelpObject>> calls;
};

#endif // KELPXMLRPCCLIENT_H
