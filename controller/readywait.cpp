#include "readywait.h"

ReadyWait::ReadyWait(TriaxController *controller, int milliseconds, QObject *parent)
    : QObject(parent)
    , controller(controller)
{
    // The queue empties and the state turns with these two; nothing else
    // can end the wait.
    connect(controller, &TriaxController::stateChanged, this, &ReadyWait::check);
    connect(controller, &TriaxController::checkQueue, this, &ReadyWait::check);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this] { finish(Outcome::TimedOut); });
    deadline.start(milliseconds);
    QMetaObject::invokeMethod(this, &ReadyWait::check, Qt::QueuedConnection);
}

void ReadyWait::check()
{
    if (!controller)
        return;
    switch (controller->settling()) {
    case TriaxController::Settling::Settled:
        finish(Outcome::Ready);
        break;
    case TriaxController::Settling::Failed:
        finish(Outcome::Failed, controller->settlingFailure());
        break;
    case TriaxController::Settling::Pending:
        break;
    }
}

void ReadyWait::finish(Outcome outcome, const QString &reason)
{
    if (done)
        return;
    done = true;
    deadline.stop();
    if (controller)
        disconnect(controller, nullptr, this, nullptr);
    emit finished(outcome, reason);
}
