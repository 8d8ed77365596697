#ifndef KELPDEFERREDRESPONSE_H
#define KELPDEFERREDRESPONSE_H

#include <QObject>
#include <QVariant>

// The response to a call that its slot answers later. The slot takes it from
// KelpXmlRpcServer::deferResponse() while it runs, returns anything, and
// finishes it once the result is known; meanwhile the server serves every
// other connection, and the waiting connection's later requests wait behind
// this one. It belongs to the connection that waits for it: when the client
// hangs up, it goes with the connection, and whatever waits on its behalf
// should be its child, or watch destroyed().
class KelpDeferredResponse : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Answers the call with result, or with the fault that a variant holding a KelpFault
    // carries, and deletes itself later; only the first call counts.
    void finish(const QVariant &result);
    // Whether the slot finished it before it returned, and with what.
    bool isFinished() const { return done; }
    QVariant result() const { return outcome; }

signals:
    void finished(const QVariant &result);

private:
    bool done = false;
    QVariant outcome;
};

#endif // KELPDEFERREDRESPONSE_H
