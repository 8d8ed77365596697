#ifndef READYWAIT_H
#define READYWAIT_H

#include "triaxcontroller.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

// A program's wait for the instrument to take its next request: until the
// instrument is ready with nothing queued or in flight, until it cannot get
// there by itself (a fault, the port closed), or until the time runs out.
// It costs nothing meanwhile: it only listens to the controller. It tells
// its outcome once, and from a later turn of the event loop even when the
// outcome is known at once, so that whoever made it can connect first.
class ReadyWait : public QObject
{
    Q_OBJECT

public:
    // The longest a program may wait: the instrument's 90 s start and any motion fit in it many
    // times over, and no forgotten wait holds a connection for good.
    static constexpr int MaxSeconds = 600;

    enum class Outcome { Ready, Failed, TimedOut };
    Q_ENUM(Outcome)

    ReadyWait(TriaxController *controller, double seconds, QObject *parent = nullptr);

    // Why a wait of seconds ended without the instrument ready, in every face's words.
    static QString notReadyWithin(double seconds);

Q_SIGNALS:
    // reason is settlingFailure() for Failed, notReadyWithin() for TimedOut, else empty.
    void finished(ReadyWait::Outcome outcome, const QString &reason);

private:
    void check();
    void finish(Outcome outcome, const QString &reason = QString());

    QPointer<TriaxController> controller;
    QTimer deadline;
    bool done = false;
};

#endif
