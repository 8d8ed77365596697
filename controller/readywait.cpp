#include "readywait.h"

ReadyWait::ReadyWait(TriaxController *controller, double seconds, QObject *parent)
    : QObject(parent)
    , controller(controller)
{
    // The queue empties and the state turns with these two; nothing else
    // can end the wait.
    connect(controller, &TriaxController::stateChanged, this, &ReadyWait::check);
    connect(controller, &TriaxController::checkQueue, this, &ReadyWait::check);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this,
        [this, seconds] { finish(Outcome::TimedOut, notReadyWithin(seconds)); });
    deadline.start(qRound(seconds * 1000));
    QMetaObject::invokeMethod(this, &ReadyWait::check, Qt::QueuedConnection);
}

QString ReadyWait::notReadyWithin(double seconds)
{
    return QStringLiteral("not ready within %1 s").arg(seconds);
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
