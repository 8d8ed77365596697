#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

#include <QObject>

// SIGTERM and SIGINT as a Qt signal, delivered by the event loop: the
// program can then close the instrument's port before it ends, which a
// signal handler could not do safely. Construct it before any thread is
// started, since the signals are blocked in the constructing thread only.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

Q_SIGNALS:
    void received(int signal);

private:
    void readSignal();

    int descriptor = -1;
};

#endif
