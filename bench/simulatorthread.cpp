#include "simulatorthread.h"

SimulatorThread::SimulatorThread(
    const TriaxSimulator::Options &options, const std::function<void(TriaxSimulator *)> &watch)
{
    thread.start();
    anchor.moveToThread(&thread);
    QMetaObject::invokeMethod(
        &anchor,
        [&] {
            instrument = new TriaxSimulator(options);
            watch(instrument);
        },
        Qt::BlockingQueuedConnection);
}

SimulatorThread::~SimulatorThread()
{
    QMetaObject::invokeMethod(
        &anchor, [this] { delete instrument; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}
