#include "kelpDeferredResponse.h"

void KelpDeferredResponse::finish(const QVariant &result)
{
    if (done)
        return;
    done = true;
    outcome = result;
    emit finished(result);
    deleteLater();
}
