#ifndef TRIAXMODEL_H
#define TRIAXMODEL_H

#include <QByteArray>
#include <QDeadlineTimer>

// The simulated instrument's state and its answers, one command at a time.
// It knows nothing of the serial line: a command reaches answer() without
// its terminator, and an empty answer means the instrument stays silent.
//
// The drive is kept in motor steps and the wavelength derived from it, so a
// relative step move and a wavelength move always read back consistently.
// Read-backs report where a motion goes as soon as it is accepted; only the
// busy query tells whether the motors have got there.
class TriaxModel
{
public:
    enum class State { NeedsAutobaud, NeedsStart, Running };

    // 40 steps per nm keeps the panel's whole range in five digits of steps,
    // and every step is an exact multiple of 0.025 nm, so three decimals
    // give the wavelength of any position exactly.
    static constexpr int stepsPerNanometre = 40;
    static constexpr int maxDrivePosition = 1500 * stepsPerNanometre;
    static constexpr double maxWavelength = double(maxDrivePosition) / stepsPerNanometre;
    static constexpr int maxSlitWidth = 1400;
    static constexpr int gratingCount = 3;
    // A grating change turns the turret, which takes as long as moving the
    // drive this many steps, whatever the two gratings are.
    static constexpr int gratingChangeSteps = 5000;
    static constexpr double defaultSpeed = 5000.0;

    QByteArray answer(const QByteArray &command);

    State state() const { return currentState; }
    void setState(State state) { currentState = state; }
    int drivePosition() const { return drive; }
    void setDrivePosition(int steps);
    double wavelength() const { return double(drive) / stepsPerNanometre; }
    // Goes to the nearest whole step.
    void setWavelength(double nanometres);
    int grating() const { return currentGrating; }
    void setGrating(int grating);
    int entranceSlit() const { return slits[0]; }
    void setEntranceSlit(int steps);
    int exitSlit() const { return slits[1]; }
    void setExitSlit(int steps);
    // Steps per second, for the drive and the slits alike.
    double speed() const { return stepsPerSecond; }
    void setSpeed(double stepsPerSecond);

    bool isMoving() const { return !motionEnd.hasExpired(); }
    // Ends any motion at once, as when the power goes.
    void stop() { motionEnd = QDeadlineTimer(); }

private:
    QByteArray runningAnswer(const QByteArray &command);
    QByteArray moveDrive(qint64 target);
    QByteArray moveSlit(int index, const QByteArray &argument);
    QByteArray changeGrating(const QByteArray &argument);
    void startMotion(qint64 steps);

    State currentState = State::Running;
    int drive = 500 * stepsPerNanometre;
    int currentGrating = 0;
    int slits[2] = { 100, 100 };
    double stepsPerSecond = defaultSpeed;
    QDeadlineTimer motionEnd;
};

#endif
