#ifndef KELPCALLCONTEXT_H
#define KELPCALLCONTEXT_H

#include <QHostAddress>

class KelpDeferredResponse;
class QObject;

// A call as the connection that read it hands it to its host: who sent it, and where a response
// that its slot gives later (KelpDeferredResponse) belongs.
struct KelpCallContext
{
    QHostAddress peer;
    // The parent of a deferred response: the connection that waits for it.
    QObject *owner = nullptr;
    // False inside system.multicall, whose answer holds every result at once.
    bool mayDefer = true;
    // Set when the slot has deferred its response.
    KelpDeferredResponse *deferred = nullptr;
};

#endif // KELPCALLCONTEXT_H
