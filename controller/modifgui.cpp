#include "triax.h"

void WidgetTriax::enableGui(bool on)
{
    pbQuit->setEnabled(!on);
    pbClose->setEnabled(on);
    pbOpen->setEnabled(!on);
    leCommandLI->setEnabled(on);
    leWavelength->setEnabled(on);
    leMotPos->setEnabled(on);
    leMoveRel->setEnabled(on);
    leInSlit->setEnabled(on);
    leOutSlit->setEnabled(on);
    cbGrating->setEnabled(on);
}

void WidgetTriax::displayStatus(const QString &text)
{
    lbReady->setText(text);
}

void WidgetTriax::newWavelength()
{
    ready = 0;
    queueCommand(QStringLiteral("Z61,0,%1").arg(leWavelength->text()));
}

void WidgetTriax::moveRelative()
{
    ready = 0;
    queueCommand(QStringLiteral("F0,%1").arg(leMoveRel->text()));
}

// The fields hold absolute slit widths; the instrument moves a slit by a
// relative number of steps from where it was last read back.
void WidgetTriax::newInSlit()
{
    ready = 0;
    queueCommand(QStringLiteral("k0,0,%1").arg(leInSlit->text().toInt() - inSlitSteps));
}

void WidgetTriax::newOutSlit()
{
    ready = 0;
    queueCommand(QStringLiteral("k0,2,%1").arg(leOutSlit->text().toInt() - outSlitSteps));
}

void WidgetTriax::changeGrating(int index)
{
    ready = 0;
    grating = index;
    queueCommand(QStringLiteral("Z451,0,0,0,%1").arg(index));
}

void WidgetTriax::sendCLICommand()
{
    // An empty command would write nothing and so never get a reception; at
    // the head of the queue it would hold every later command back for good.
    const QString typed = leCommandLI->text();
    if (typed.isEmpty())
        return;
    currentCommand = typed;
    // Noted before queuing: on a closed port the reception comes at once.
    typedPositions.append(headPosition + commandQueue.size());
    queueCommand(typed);
}
