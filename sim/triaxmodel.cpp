#include "triaxmodel.h"

#include <QtMath>

namespace {

// Whatever is not understood within a known command is refused with this,
// so that the panel sees an answer that does not start with "o".
const QByteArray refused = QByteArrayLiteral("b");

bool takeArgument(const QByteArray &command, const char *prefix, QByteArray *argument)
{
    if (!command.startsWith(prefix))
        return false;
    *argument = command.mid(qstrlen(prefix));
    return true;
}

QByteArray accepted(int value)
{
    return 'o' + QByteArray::number(value);
}

} // namespace

QByteArray TriaxModel::answer(const QByteArray &command)
{
    switch (currentState) {
    case State::NeedsAutobaud:
        if (command == " ")
            return QByteArrayLiteral("*");
        if (command == "\xf7") {
            currentState = State::NeedsStart;
            return QByteArrayLiteral("=");
        }
        return {};
    case State::NeedsStart:
        if (command == " ")
            return QByteArrayLiteral("B");
        if (command == "O2000")
            return QByteArrayLiteral("*");
        if (command == "A") {
            currentState = State::Running;
            return QByteArrayLiteral("o");
        }
        return {};
    case State::Running:
        break;
    }
    return runningAnswer(command);
}

void TriaxModel::setDrivePosition(int steps)
{
    drive = qBound(0, steps, maxDrivePosition);
}

void TriaxModel::setWavelength(double nanometres)
{
    setDrivePosition(qRound(qBound(0.0, nanometres, maxWavelength) * stepsPerNanometre));
}

void TriaxModel::setGrating(int grating)
{
    currentGrating = qBound(0, grating, gratingCount - 1);
}

void TriaxModel::setEntranceSlit(int steps)
{
    slits[0] = qBound(0, steps, maxSlitWidth);
}

void TriaxModel::setExitSlit(int steps)
{
    slits[1] = qBound(0, steps, maxSlitWidth);
}

void TriaxModel::setSpeed(double value)
{
    stepsPerSecond = qMax(1.0, value);
}

QByteArray TriaxModel::runningAnswer(const QByteArray &command)
{
    if (command == " ")
        return QByteArrayLiteral("F");
    if (command == "E")
        return isMoving() ? QByteArrayLiteral("oq") : QByteArrayLiteral("oz");
    if (command == "H0")
        return accepted(drive);
    if (command == "Z62,0")
        return 'o' + QByteArray::number(wavelength(), 'f', 3);
    if (command == "Z452,0,0,0")
        return accepted(currentGrating);
    if (command == "j0,0")
        return accepted(slits[0]);
    if (command == "j0,2")
        return accepted(slits[1]);

    QByteArray argument;
    if (takeArgument(command, "Z61,0,", &argument)) {
        bool ok = false;
        const double nanometres = argument.toDouble(&ok);
        // Written so that NaN and infinities fail the range test too.
        if (!ok || !(nanometres >= 0 && nanometres * stepsPerNanometre <= maxDrivePosition))
            return refused;
        return moveDrive(qRound64(nanometres * stepsPerNanometre));
    }
    if (takeArgument(command, "F0,", &argument)) {
        bool ok = false;
        const qint64 steps = argument.toLongLong(&ok);
        // Bounded before the sum so that no argument can overflow it.
        if (!ok || qAbs(steps) > maxDrivePosition)
            return refused;
        return moveDrive(drive + steps);
    }
    if (takeArgument(command, "k0,0,", &argument))
        return moveSlit(0, argument);
    if (takeArgument(command, "k0,2,", &argument))
        return moveSlit(1, argument);
    if (takeArgument(command, "Z451,0,0,0,", &argument))
        return changeGrating(argument);
    return {};
}

QByteArray TriaxModel::moveDrive(qint64 target)
{
    if (target < 0 || target > maxDrivePosition)
        return refused;
    startMotion(qAbs(target - drive));
    drive = int(target);
    return QByteArrayLiteral("o");
}

QByteArray TriaxModel::moveSlit(int index, const QByteArray &argument)
{
    bool ok = false;
    const int steps = argument.toInt(&ok);
    if (!ok || qAbs(steps) > maxSlitWidth)
        return refused;
    const int target = slits[index] + steps;
    if (target < 0 || target > maxSlitWidth)
        return refused;
    startMotion(qAbs(steps));
    slits[index] = target;
    return QByteArrayLiteral("o");
}

QByteArray TriaxModel::changeGrating(const QByteArray &argument)
{
    bool ok = false;
    const int grating = argument.toInt(&ok);
    if (!ok || grating < 0 || grating >= gratingCount)
        return refused;
    startMotion(gratingChangeSteps);
    currentGrating = grating;
    return QByteArrayLiteral("o");
}

// The motors run one after the other: a motion accepted while another is
// under way adds its time to the end of that one.
void TriaxModel::startMotion(qint64 steps)
{
    const qint64 duration = qCeil(double(steps) * 1000.0 / stepsPerSecond);
    if (isMoving())
        motionEnd += duration;
    else
        motionEnd = QDeadlineTimer(duration, Qt::PreciseTimer);
}
