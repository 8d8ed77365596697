#include "triaxcontroller.h"

// The operator's requests, from the panel or a remote client. Each clears
// ready at once, before the instrument has seen the command, so that no
// second motion is asked for meanwhile.
void TriaxController::askedForMotion()
{
    m_ready = 0;
    showMotorBusy(true);
}

void TriaxController::newWavelength(const QString &text)
{
    emit wavelengthRequested(text);
    askedForMotion();
    queueCommand(QStringLiteral("Z61,0,%1").arg(text));
}

void TriaxController::moveRelative(const QString &steps)
{
    emit moveRequested(steps);
    askedForMotion();
    queueCommand(QStringLiteral("F0,%1").arg(steps));
}

// The instrument moves a slit by a relative number of steps from where it
// was last read back.
void TriaxController::newInSlit(const QString &width)
{
    emit inSlitRequested(width);
    askedForMotion();
    queueCommand(QStringLiteral("k0,0,%1").arg(width.toInt() - inSlitSteps()));
}

void TriaxController::newOutSlit(const QString &width)
{
    emit outSlitRequested(width);
    askedForMotion();
    queueCommand(QStringLiteral("k0,2,%1").arg(width.toInt() - outSlitSteps()));
}

void TriaxController::changeGrating(int index)
{
    askedForMotion();
    m_grating = index;
    emit gratingChanged(index);
    queueCommand(QStringLiteral("Z451,0,0,0,%1").arg(index));
}

void TriaxController::sendCLICommand(const QString &typed)
{
    // An empty command would write nothing and so never get a reception; at
    // the head of the queue it would hold every later command back for good.
    if (typed.isEmpty())
        return;
    currentCommand = typed;
    // Noted before queuing: on a closed port the reception comes at once.
    typedPositions.append(headPosition + commandQueue.size());
    queueCommand(typed);
}
