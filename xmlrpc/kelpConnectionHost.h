#ifndef KELPCONNECTIONHOST_H
#define KELPCONNECTIONHOST_H

#include "kelpCallContext.h"
#include "kelpDocuments.h"

#include <QByteArrayView>
#include <QString>
#include <QVariant>
#include <QVariantList>

class KelpHostNames;

// What a connection (KelpXmlRpcServerConnection) asks of the server that accepted it: its
// time-outs, its rules, the bytes it may buffer, and the answers. The server implements it, so
// that a connection depends on these few questions rather than on the server, and destroys its
// connections before itself, so that a connection never asks a host that is gone.
class KelpConnectionHost
{
public:
    static constexpr qint64 MaxHeaderSize = 64 * 1024;
    static constexpr qint64 MaxBodySize = 16 * 1024 * 1024;
    // As nginx, so that no client holds one connection and its memory for good.
    static constexpr int MaxRequestsPerConnection = 1000;

    // In milliseconds: for a request to be read whole, and for the next one to begin.
    virtual int requestTimeout() const = 0;
    virtual int idleTimeout() const = 0;
    // The names under which clients may address this machine, which the Host rule admits.
    virtual const KelpHostNames &hostNames() const = 0;
    // A connection's claim on the bytes that all may buffer together; false, claiming nothing,
    // when it would go beyond. What is claimed goes back with releaseBuffer().
    virtual bool claimBuffer(qint64 bytes) = 0;
    virtual void releaseBuffer(qint64 bytes) = 0;
    // Writes a warning line, such as a refusal.
    virtual void warn(const QString &line) = 0;
    virtual KelpDocuments::Response document(
        QByteArrayView method, QByteArrayView target, QByteArrayView ifNoneMatch) const = 0;
    // The result of the call, or a KelpFault; unless its slot has deferred the response, which
    // context then holds.
    virtual QVariant call(const QString &method, const QVariantList &args, KelpCallContext *context)
        = 0;

protected:
    ~KelpConnectionHost() = default;
};

#endif // KELPCONNECTIONHOST_H
