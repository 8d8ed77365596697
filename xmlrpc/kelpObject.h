#ifndef KELPOBJECT_H
#define KELPOBJECT_H

#include <QByteArray>
#include <QObject>
#include <QVariant>

class KelpFault;
class QNetworkReply;

// A call that KelpXmlRpcClient has sent and that waits for its response. It announces the
// outcome once, through aresponse() or fault(), and then deletes itself later.
class KelpObject : public QObject
{
    Q_OBJECT
public:
    explicit KelpObject(QObject *parent = nullptr);

    // Reads the "methodResponse" document the call got and announces what it carries.
    void parseResponse(const QByteArray &response, QNetworkReply *reply);
    // For a call that got no response document: a network or HTTP error.
    void reportFault(const KelpFault &fault, QNetworkReply *reply);

signals:
    // The decoded result; it lives only while the signal is emitted, so copy what you keep.
    // The reply is handed on, unread, so that a receiver can tell its calls apart.
    void aresponse(QVariant &result, QNetworkReply *reply);
    void fault(int faultCode, const QString &faultString, QNetworkReply *reply);

private:
    void finish(const QVariant &outcome, QNetworkReply *reply);

    bool finished = false;
};

#endif // KELPOBJECT_H
