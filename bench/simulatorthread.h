#ifndef SIMULATORTHREAD_H
#define SIMULATORTHREAD_H

#include "triaxsimulator.h"

#include <QObject>
#include <QThread>

#include <functional>

// The simulated instrument in a thread of its own, as an instrument would
// be: the panel's timers then compete with nothing in the panel's own event
// loop.
class SimulatorThread
{
public:
    // watch runs on the instrument's thread, right after the simulator is
    // made, to connect to its signals there.
    SimulatorThread(
        const TriaxSimulator::Options &options, const std::function<void(TriaxSimulator *)> &watch);
    ~SimulatorThread();

    TriaxSimulator *simulator() const { return instrument; }

private:
    QThread thread;
    QObject anchor;
    TriaxSimulator *instrument = nullptr;
};

#endif
